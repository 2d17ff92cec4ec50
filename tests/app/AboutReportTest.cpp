#include "app/AboutDialog.h"
#include "app/AboutReport.h"
#include "link/ParamBatch.h"
#include "link/ReceiverHolder.h"
#include "support/ScriptedPrompts.h"

#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace {

// A reply text as the link returns it: one frame per print, "RE" answers and "ER" errors.
QString Reply(int prints, const std::vector<int>& errorLines)
{
    QString reply;
    for (int i = 0; i < prints; ++i) {
        if (std::find(errorLines.begin(), errorLines.end(), i) != errorLines.end()) {
            reply += QStringLiteral("ER011{Wrong path}\r\n");
        } else {
            reply += QStringLiteral("RE005 v%1 \r\n").arg(i);
        }
    }
    return reply;
}

QStringList Lines(const QString& report)
{
    QStringList lines = report.split(QStringLiteral("\r\n"));
    EXPECT_TRUE(lines.last().isEmpty()) << "the report ends with a line end";
    lines.removeLast();
    return lines;
}

TEST(AboutReport, EveryLabelTakesItsOwnPrintsValueOrUnknownAndSeparatorsStayAsTheyAre)
{
    // One print per value line, in one batch that goes on past errors.
    const QString text = AboutReportBatch();
    EXPECT_TRUE(text.startsWith(QStringLiteral("@scr stoperrors off\nprint,/par/rcv/model\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("\n@end\n")));
    EXPECT_EQ(text.count(QStringLiteral("print,")), 46);
    EXPECT_EQ(text.count(QLatin1Char('\n')), 48);
    // The fourth print is answered with an error: it alone is unknown, the later ones keep their own values.
    CParamBatch batch;
    batch.ParseReply(text, Reply(46, {3}));
    QStringList lines = Lines(BuildAboutReport(batch));
    ASSERT_EQ(lines.size(), 51);
    EXPECT_EQ(lines[0], QStringLiteral("Receiver model:\tv0"));
    EXPECT_EQ(lines[3], QStringLiteral("Firmware version:\t<unknown>"));
    EXPECT_EQ(lines[4], QStringLiteral("RTK support:\tv4"));
    EXPECT_EQ(lines[10], QStringLiteral("Ext. Ant. DC status:\tv10"));
    EXPECT_EQ(lines[11], QStringLiteral("-------------------- Charger -------------------------------"));
    EXPECT_EQ(lines[12], QStringLiteral("Power source:\tv11"));
    EXPECT_EQ(lines[27], QString::fromUtf8("Temperature(\u00b0C):\tv25"));
    EXPECT_EQ(lines[29], QStringLiteral("Flash memory size(b): v26"));
    EXPECT_EQ(lines[36], QString(60, QLatin1Char('-')));
    EXPECT_EQ(lines[41], QStringLiteral("Wait states:\t v37"));
    EXPECT_EQ(lines[42], QStringLiteral("-------------------- Certification -------------------------"));
    EXPECT_EQ(lines[43], QStringLiteral("FCC ID(GSM):\tv38"));
    EXPECT_EQ(lines[50], QStringLiteral("IC        (WIFI):\tv45"));
    EXPECT_EQ(lines.filter(QStringLiteral("<unknown>")).size(), 1);
    for (const QString& line : lines) {
        EXPECT_FALSE(line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r'))) << line.toStdString();
    }

    // A reply cut short leaves the rest unknown.
    CParamBatch cut;
    cut.ParseReply(text, Reply(2, {}));
    lines = Lines(BuildAboutReport(cut));
    EXPECT_EQ(lines[1], QStringLiteral("Receiver S/N:\tv1"));
    EXPECT_EQ(lines[2], QStringLiteral("Receiver ID:\t<unknown>"));
    EXPECT_EQ(lines.filter(QStringLiteral("<unknown>")).size(), 44);
}

TEST(AboutReport, WwwAddressesGetAScheme)
{
    EXPECT_EQ(AboutLinkUrl(QStringLiteral("www.nemola.example")), QStringLiteral("http://www.nemola.example"));
    EXPECT_EQ(AboutLinkUrl(QStringLiteral("WwW.Nemola.example")), QStringLiteral("http://WwW.Nemola.example"));
    EXPECT_EQ(AboutLinkUrl(QStringLiteral("https://nemola.example")), QStringLiteral("https://nemola.example"));
    EXPECT_EQ(AboutLinkUrl(QStringLiteral("www")), QStringLiteral("www"));
}

TEST(AboutDialog, WithoutAReceiverTheReportStaysEmptyAndTheLinkOpensOrSaysItCannot)
{
    CScriptedPrompts prompts;
    CAboutDialog dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About Nemola-M"));
    const QStringList version = dialog.VersionText().split(QLatin1Char('\n'));
    ASSERT_EQ(version.size(), 3);
    EXPECT_EQ(version[0], QStringLiteral("Nemola-M version " NEMOLA_VERSION));
    EXPECT_TRUE(version[1].startsWith(QStringLiteral("Build: "))) << version[1].toStdString();
    EXPECT_TRUE(version[1].contains(QStringLiteral(", ")));
    EXPECT_FALSE(version[2].isEmpty());
    EXPECT_TRUE(dialog.Report().isEmpty());
    EXPECT_EQ(dialog.findChild<QPlainTextEdit*>(), nullptr);

    QStringList opened;
    dialog.SetUrlOpener([&opened](const QString& url) {
        opened << url;
        return true;
    });
    dialog.OpenLink();
    EXPECT_EQ(opened, QStringList{QStringLiteral("http://www.nemola.example")});
    EXPECT_TRUE(prompts.Records().empty());
    dialog.SetUrlOpener([](const QString&) { return false; });
    prompts.ExpectMessage(QStringLiteral("ERROR"), QStringLiteral("Unable to open hyperlink!"), PromptButtons::Ok,
                          PromptButton::Ok);
    dialog.OpenLink();
    EXPECT_EQ(prompts.PendingCount(), 0);

    CReceiverHolder holder;  // its receiver is not open: the batch cannot be sent
    CAboutDialog unasked(&holder);
    EXPECT_TRUE(unasked.Report().isEmpty());
    auto* view = unasked.findChild<QPlainTextEdit*>(QStringLiteral("receiverReport"));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_TRUE(view->toPlainText().isEmpty());
}

}  // namespace
