// The receiver configuration sheet as the user leaves it, and windows as a screen reader reads them.

#include "journeys/JourneySupport.h"

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "app/SiteDlg.h"
#include "config/ConfigPage.h"
#include "config/ReceiverCfgDlg.h"
#include "support/Accessibility.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

namespace {

template <typename T>
T* Child(QWidget& parent, const char* name)
{
    T* child = parent.findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

void ExpectNamedFields(QWidget& window)
{
    int count = 0;
    EXPECT_EQ(FieldsNotNamedByTheirLabel(&window, &count).join(QLatin1String("; ")).toStdString(), "")
        << window.metaObject()->className();
    EXPECT_GT(count, 0) << window.metaObject()->className();
}

}  // namespace

TEST_F(Journey, SheetAsksBeforeExitDropsAnEditAndSaysWhatItApplied)
{
    Launch();
    const QString pdop = m_sim->Sim().Param(QStringLiteral("/par/pos/pdop"));
    OnWindow<CReceiverCfgDlg>(Action(cmd::kReceiverConfig), [&](CReceiverCfgDlg& sheet) {
        sheet.SelectPage(2);
        auto* mask = Child<QLineEdit>(*sheet.Page(2), "elevationMask");
        mask->selectAll();
        QTest::keyClicks(mask, QStringLiteral("11"));
        Child<QAbstractButton>(sheet, "applyButton")->click();
        EXPECT_EQ(sheet.StatusText(), QStringLiteral("Applied"));
        EXPECT_EQ(m_sim->Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("11"));

        auto* pdopMask = Child<QLineEdit>(*sheet.Page(2), "pdopMask");
        pdopMask->selectAll();
        QTest::keyClicks(pdopMask, QStringLiteral("9"));
        m_prompts
            .ExpectMessage(sheet.windowTitle(), CReceiverCfgDlg::ExitQuestion(), PromptButtons::ApplyDiscardCancel,
                           PromptButton::Cancel)
            .WithDefault(PromptButton::Apply);
        Child<QAbstractButton>(sheet, "exitButton")->click();
        EXPECT_TRUE(sheet.isVisible());
        m_prompts.ExpectMessage(sheet.windowTitle(), CReceiverCfgDlg::ExitQuestion(), PromptButtons::ApplyDiscardCancel,
                                PromptButton::Discard);
        QTest::keyClick(&sheet, Qt::Key_Escape);
        m_prompts.Verify();
        EXPECT_FALSE(sheet.isVisible());
    });
    EXPECT_EQ(m_sim->Sim().Param(QStringLiteral("/par/pos/pdop")), pdop);
    ExpectLiveEpochs();
}

// The fields of the sheet's pages and of a dialog of the main window are announced by their own labels, named as
// the program names every window it shows.
TEST_F(Journey, WindowsNameTheirFieldsByTheirLabels)
{
    Launch();
    OnWindow<CReceiverCfgDlg>(Action(cmd::kReceiverConfig), [&](CReceiverCfgDlg& sheet) {
        for (int i = 0; i < sheet.PageCount(); ++i) {
            sheet.SelectPage(i);
        }
        ExpectNamedFields(sheet);
    });
    OnWindow<CSiteDlg>(Action(cmd::kSite), [&](CSiteDlg& dialog) { ExpectNamedFields(dialog); });
    ExpectLiveEpochs();
}
