// TableParameters: appends the pieces of the parameter table XML in call order.
// Every operation ends its output with one newline; nothing is indented or escaped.
#include "driver/table_parameters.h"

namespace {

const wchar_t* typeWord(TableParameters::TypeValue type) {
    switch (type) {
    case TableParameters::String:
        return L"String";
    case TableParameters::Number:
        return L"Number";
    case TableParameters::Boolean:
        return L"Boolean";
    }
    return L"";
}

const wchar_t* operationWord(TableParameters::MasterOperation operation) {
    switch (operation) {
    case TableParameters::Equal:
        return L"Equal";
    case TableParameters::NotEqual:
        return L"NotEqual";
    default:
        return L"";
    }
}

}  // namespace

TableParameters::TableParameters() {
    m_stream << L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>" << L"\n";
}

void TableParameters::beginSettings() { m_stream << L"<Settings>" << L"\n"; }

void TableParameters::endSettings() { m_stream << L"</Settings>" << L"\n"; }

void TableParameters::beginPage(const std::wstring& caption) {
    m_stream << L"<Page Caption=\"" << caption << L"\">" << L"\n";
}

void TableParameters::endPage() { m_stream << L"</Page>" << L"\n"; }

void TableParameters::beginGroup(const std::wstring& caption) {
    m_stream << L"<Group Caption=\"" << caption << L"\">" << L"\n";
}

void TableParameters::endGroup() { m_stream << L"</Group>" << L"\n"; }

void TableParameters::beginParameter(const std::wstring& name, const std::wstring& caption,
                                     TypeValue type, const std::wstring& defaultValue,
                                     const std::wstring& masterName, MasterOperation operation,
                                     const std::wstring& masterValue) {
    parameter(name, caption, type, defaultValue, false, masterName, operation, masterValue);
}

void TableParameters::simpleParameter(const std::wstring& name, const std::wstring& caption,
                                      TypeValue type, const std::wstring& defaultValue,
                                      const std::wstring& masterName, MasterOperation operation,
                                      const std::wstring& masterValue) {
    parameter(name, caption, type, defaultValue, true, masterName, operation, masterValue);
}

void TableParameters::endParameter() { m_stream << L"</Parameter>" << L"\n"; }

void TableParameters::beginChoiceList() { m_stream << L"<ChoiceList>" << L"\n"; }

void TableParameters::endChoiceList() { m_stream << L"</ChoiceList>" << L"\n"; }

void TableParameters::choiceListItem(const std::wstring& value, const std::wstring& text) {
    m_stream << L"<Item Value=\"" << value << L"\">" << text << L"</Item>" << L"\n";
}

std::wstring TableParameters::getXml() const { return m_stream.str(); }

// All five attributes after Name and Caption are written even when empty; a
// simple parameter closes itself, a begun one waits for its choice list.
void TableParameters::parameter(const std::wstring& name, const std::wstring& caption,
                                TypeValue type, const std::wstring& defaultValue, bool simple,
                                const std::wstring& masterName, MasterOperation operation,
                                const std::wstring& masterValue) {
    m_stream << L"<Parameter Name=\"" << name << L"\" Caption=\"" << caption << L"\" TypeValue=\""
             << typeWord(type) << L"\" DefaultValue=\"" << defaultValue
             << L"\" MasterParameterName=\"" << masterName << L"\" MasterParameterOperation=\""
             << operationWord(operation) << L"\" MasterParameterValue=\"" << masterValue
             << (simple ? L"\" />" : L"\">") << L"\n";
}
