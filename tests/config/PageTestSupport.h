#pragma once

// A fixture for one page of the sheet against the simulator, with a stand-in sheet.

#include "ConfigTestSupport.h"

#include "config/ReceiverCfgDlg.h"
#include "support/ScriptedPrompts.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <utility>
#include <vector>

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// What the program hands the sheet for a simulated receiver with firmware 3.4.
inline ConfigSheetContext SheetContext(CSharedSim& sim)
{
    ConfigSheetContext context;
    context.connection = &sim.Connection();
    context.receiverName = sim.Name();
    context.model = sim.Sim().Param(QStringLiteral("/par/rcv/model"));
    context.firmwareVersion = 3004;
    return context;
}

// The set commands among `commands`, and the script lines that write the same values.
inline QStringList Sets(const QStringList& commands)
{
    return commands.filter(QRegularExpression(QStringLiteral("^set,")));
}

inline QStringList AsScript(const QStringList& sets)
{
    QStringList out;
    for (const QString& command : sets) {
        out << "%" + command.section(',', 1, 1) + "%" + command;
    }
    return out;
}

template <typename Page>
class CPageTest : public ::testing::Test
{
protected:
    using Values = std::vector<std::pair<const char*, const char*>>;

    // A receiver of `profile` with some values of its own, and the page queried from it. The sheet knows the
    // receiver's firmware as the connection read it.
    void Open(const char* profile = "full", const Values& values = {})
    {
        page.reset();
        sim.reset();  // one receiver at a time on the shared handle
        sim = std::make_unique<CSharedSim>(profile);
        for (const auto& [path, value] : values) {
            sim->Sim().SetParamValue(QString::fromLatin1(path), QString::fromLatin1(value));
        }
        const QStringList version = sim->Sim().Param(QStringLiteral("/par/rcv/ver/main")).split(QLatin1Char('.'));
        sheet.firmware = version.value(0).toInt() * 1000 + version.value(1).toInt();
        page = std::make_unique<Page>();
        page->QuerySettings();
        sim->TakeCommands();
    }
    template <typename T = QWidget>
    T* W(const char* name) const
    {
        T* w = Child<T>(page.get(), name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // The commands of an apply, and its result.
    QStringList Applied(QString* result = nullptr)
    {
        const QString r = page->ApplySettings();
        if (result) {
            *result = r;
        }
        return sim->TakeCommands();
    }
    QStringList Script()
    {
        sheet.lines.clear();
        page->WriteScript();
        return sheet.lines;
    }

    CFakeSheet sheet;
    CConfigSheetScope scope{&sheet};
    CScriptedPrompts prompts;
    std::unique_ptr<CSharedSim> sim;
    std::unique_ptr<Page> page;
};
