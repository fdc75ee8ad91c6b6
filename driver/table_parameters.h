// TableParameters: writes the Settings/Page/Group/Parameter/ChoiceList XML of
// the driver's parameter table. It only appends text in the order of the
// calls and escapes nothing; callers escape text that comes from outside.
#pragma once

#include <sstream>
#include <string>

class TableParameters {
public:
    // Fixed underlying types: a value outside the names is still a valid
    // value (written as an empty word), not undefined behaviour.
    enum TypeValue : int { String = 0, Number = 1, Boolean = 2 };
    enum MasterOperation : int { NoOperation = 0, Equal = 1, NotEqual = 2 };

    TableParameters();

    void beginSettings();
    void endSettings();
    void beginPage(const std::wstring& caption);
    void endPage();
    void beginGroup(const std::wstring& caption);
    void endGroup();
    void beginParameter(const std::wstring& name, const std::wstring& caption, TypeValue type,
                        const std::wstring& defaultValue, const std::wstring& masterName = L"",
                        MasterOperation operation = NoOperation, const std::wstring& masterValue = L"");
    void simpleParameter(const std::wstring& name, const std::wstring& caption, TypeValue type,
                         const std::wstring& defaultValue, const std::wstring& masterName = L"",
                         MasterOperation operation = NoOperation, const std::wstring& masterValue = L"");
    void endParameter();
    void beginChoiceList();
    void endChoiceList();
    void choiceListItem(const std::wstring& value, const std::wstring& text);

    std::wstring getXml() const;

private:
    void parameter(const std::wstring& name, const std::wstring& caption, TypeValue type,
                   const std::wstring& defaultValue, bool simple, const std::wstring& masterName,
                   MasterOperation operation, const std::wstring& masterValue);

    std::wostringstream m_stream;
};
