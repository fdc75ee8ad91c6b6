// TableParameters: the exact text of each builder operation, in call order.
#include <gtest/gtest.h>

#include "driver/table_parameters.h"

namespace {

const std::wstring kDeclaration = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// The text the builder appended after its declaration line.
std::wstring body(const TableParameters& table) {
    std::wstring xml = table.getXml();
    EXPECT_EQ(0u, xml.rfind(kDeclaration, 0)) << "the declaration line comes first";
    return xml.substr(kDeclaration.size());
}

TEST(TableParameters, EmptySettingsDocument) {
    TableParameters table;
    table.beginSettings();
    table.endSettings();
    EXPECT_EQ(kDeclaration + L"<Settings>\n</Settings>\n", table.getXml());
}

TEST(TableParameters, NestedDocumentInCallOrder) {
    TableParameters table;
    table.beginSettings();
    table.beginPage(L"Параметры");
    table.beginGroup(L"Соединение:");
    table.beginParameter(L"ConnectionType", L"Тип соединения", TableParameters::Number, L"0");
    table.beginChoiceList();
    table.choiceListItem(L"0", L"Кабель USB-VCOM");
    table.endChoiceList();
    table.endParameter();
    table.endGroup();
    table.endPage();
    table.endSettings();
    EXPECT_EQ(kDeclaration +
                  L"<Settings>\n"
                  L"<Page Caption=\"Параметры\">\n"
                  L"<Group Caption=\"Соединение:\">\n"
                  L"<Parameter Name=\"ConnectionType\" Caption=\"Тип соединения\" TypeValue=\"Number\" "
                  L"DefaultValue=\"0\" MasterParameterName=\"\" MasterParameterOperation=\"\" "
                  L"MasterParameterValue=\"\">\n"
                  L"<ChoiceList>\n"
                  L"<Item Value=\"0\">Кабель USB-VCOM</Item>\n"
                  L"</ChoiceList>\n"
                  L"</Parameter>\n"
                  L"</Group>\n"
                  L"</Page>\n"
                  L"</Settings>\n",
              table.getXml());
}

TEST(TableParameters, ParameterLineWordsAndClosing) {
    struct Case {
        bool simple;
        TableParameters::TypeValue type;
        TableParameters::MasterOperation operation;
        std::wstring expected;
    };
    const auto line = [](const wchar_t* type, const wchar_t* operation, const wchar_t* closing) {
        return std::wstring(L"<Parameter Name=\"N\" Caption=\"C\" TypeValue=\"") + type +
               L"\" DefaultValue=\"true\" MasterParameterName=\"M\" MasterParameterOperation=\"" +
               operation + L"\" MasterParameterValue=\"V" + closing + L"\n";
    };
    const Case cases[] = {
        {true, TableParameters::String, TableParameters::NoOperation, line(L"String", L"", L"\" />")},
        {false, TableParameters::Number, TableParameters::Equal, line(L"Number", L"Equal", L"\">")},
        {true, TableParameters::Boolean, TableParameters::NotEqual, line(L"Boolean", L"NotEqual", L"\" />")},
        // Values outside the enumerations write nothing between the quotes.
        {false, static_cast<TableParameters::TypeValue>(7),
         static_cast<TableParameters::MasterOperation>(9), line(L"", L"", L"\">")},
    };
    for (const Case& c : cases) {
        TableParameters table;
        if (c.simple)
            table.simpleParameter(L"N", L"C", c.type, L"true", L"M", c.operation, L"V");
        else
            table.beginParameter(L"N", L"C", c.type, L"true", L"M", c.operation, L"V");
        EXPECT_EQ(c.expected, body(table));
    }
}

TEST(TableParameters, SimpleBooleanWithEmptyMasterFields) {
    TableParameters table;
    table.simpleParameter(L"BZAlarm", L"Сигнал", TableParameters::Boolean, L"true");
    EXPECT_EQ(L"<Parameter Name=\"BZAlarm\" Caption=\"Сигнал\" TypeValue=\"Boolean\" DefaultValue=\"true\" "
              L"MasterParameterName=\"\" MasterParameterOperation=\"\" MasterParameterValue=\"\" />\n",
              body(table));
}

TEST(TableParameters, TextIsWrittenRawAndBuildingContinuesAfterGetXml) {
    TableParameters table;
    table.beginGroup(L"say \"<hi>\" & go");
    const std::wstring first = table.getXml();
    table.choiceListItem(L"a&b", L"<x>");
    EXPECT_EQ(kDeclaration + L"<Group Caption=\"say \"<hi>\" & go\">\n", first);
    EXPECT_EQ(first + L"<Item Value=\"a&b\"><x></Item>\n", table.getXml());
}

}  // namespace
