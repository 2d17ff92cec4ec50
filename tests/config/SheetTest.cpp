// The configuration sheet against the simulator: page lifecycle, Apply, OK, Exit, Set to defaults, Save.

#include "ConfigTestSupport.h"

#include "config/ConfigPage.h"
#include "config/DatumParam.h"
#include "config/Position.h"
#include "config/ReceiverCfgDlg.h"
#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "support/Accessibility.h"
#include "support/ScriptedPrompts.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <array>

namespace {

// A page that counts what the sheet asks of it.
class CProbePage : public CConfigPage
{
public:
    using CConfigPage::CConfigPage;

    void QuerySettings() override
    {
        ++queries;
        shownWhileQueried = static_cast<CReceiverCfgDlg*>(g_configSheet)->IsSheetShown();
    }
    QString ApplySettings() override
    {
        ++applies;
        if (!value.isEmpty() && !SetParam(QStringLiteral("/par/pos/elm"), value)) {
            return QStringLiteral("Can't set Elevation mask");
        }
        return error;
    }
    void WriteScript() override { WriteScriptLine(line); }
    void Edit() { MarkChanged(); }

    int queries = 0;
    int applies = 0;
    bool shownWhileQueried = true;
    QString error;
    QString value;  // sent to the receiver on apply when set
    QString line;   // the page's script
};

class SheetTest : public ::testing::Test
{
protected:
    // Probe pages everywhere; with `realPosition` the Positioning page is the real one.
    void OpenSheet(bool realPosition = true, CConnection* connection = nullptr, const QString& name = QString())
    {
        ConfigSheetContext context;
        context.connection = connection ? connection : &sim->Connection();
        context.receiverName = name.isEmpty() ? sim->Name() : name;
        context.model = QStringLiteral("Vireo-Z3");
        context.versionText = QStringLiteral("Version 0.1.0 ");
        context.buildDateText = QStringLiteral("(test)");
        context.workingFolder = workingFolder;
        context.pageFactory = [this, realPosition](int index, QWidget* parent) -> CConfigPage* {
            if (index == 2 && realPosition) {
                return nullptr;
            }
            auto* page = new CProbePage(parent);
            page->line = QStringLiteral("# page %1").arg(index);
            probes[size_t(index)] = page;
            return page;
        };
        sheet = std::make_unique<CReceiverCfgDlg>(context);
        opened = sheet->Open();
    }

    CPosition* Position() const { return dynamic_cast<CPosition*>(sheet->Page(2)); }

    std::unique_ptr<CSharedSim> sim = std::make_unique<CSharedSim>();
    CScriptedPrompts prompts;
    QTemporaryDir dir;
    QString workingFolder = dir.path();
    std::array<CProbePage*, 8> probes{};
    std::unique_ptr<CReceiverCfgDlg> sheet;
    bool opened = false;
};

}  // namespace

TEST_F(SheetTest, PagesAreQueriedOnFirstShowApplyFollowsTheirChangesAndExitSendsNothing)
{
    OpenSheet();
    ASSERT_TRUE(opened);
    EXPECT_EQ(g_configSheet, sheet.get());
    ASSERT_EQ(sheet->PageCount(), 8);
    EXPECT_EQ(Child<QTabWidget>(sheet.get(), "pages")->tabText(1), QStringLiteral("Tovel"));
    EXPECT_EQ(probes[0]->queries, 1);
    EXPECT_FALSE(sheet->Page(2)->m_bQueried);
    EXPECT_EQ(probes[1]->queries + probes[3]->queries + probes[7]->queries, 0);
    EXPECT_FALSE(sheet->IsApplyEnabled());
    EXPECT_TRUE(sheet->IsSheetShown());
    EXPECT_EQ(sheet->StatusText(), QString());

    sheet->SelectPage(3);
    sheet->SelectPage(0);
    sheet->SelectPage(3);
    EXPECT_EQ(probes[3]->queries, 1);
    sheet->Refresh();
    EXPECT_EQ(probes[3]->queries, 2);

    probes[3]->Edit();
    EXPECT_TRUE(sheet->IsApplyEnabled());
    sheet->SelectPage(4);
    EXPECT_FALSE(sheet->IsApplyEnabled());
    sheet->SelectPage(3);
    EXPECT_TRUE(sheet->IsApplyEnabled());

    probes[3]->error = QStringLiteral("Can't set something");
    sheet->Apply();
    EXPECT_EQ(sheet->StatusText(), QStringLiteral("Can't set something"));
    EXPECT_TRUE(probes[3]->m_bChanged);
    EXPECT_TRUE(sheet->IsApplyEnabled());
    // A typed value that could carry another command is invalid, not refused: the receiver never saw it.
    probes[3]->value = QStringLiteral("5&&init,/par/");
    sheet->Apply();
    EXPECT_EQ(sheet->StatusText(), QStringLiteral("Invalid Elevation mask"));
    probes[3]->value.clear();
    probes[3]->error.clear();
    sheet->Apply();
    EXPECT_EQ(sheet->StatusText(), QStringLiteral("Applied"));
    EXPECT_FALSE(probes[3]->m_bChanged);
    EXPECT_FALSE(sheet->IsApplyEnabled());
    sheet->Apply();  // nothing changed: the page is not asked
    EXPECT_EQ(probes[3]->applies, 3);
    EXPECT_EQ(probes[3]->queries, 2);  // not re-queried after applying

    // A refresh drops the page's edits.
    probes[3]->Edit();
    sheet->Refresh();
    EXPECT_FALSE(probes[3]->m_bChanged);
    EXPECT_FALSE(sheet->IsApplyEnabled());

    // Exit asks before it drops an edit; Cancel (and a box closed without a choice) stays, Discard leaves the
    // receiver as it was. Escape and the close button ask alike.
    sheet->SelectPage(2);
    Type(Child<QLineEdit>(Position(), "pdopMask"), QStringLiteral("9"));
    sim->TakeCommands();
    sheet->setResult(-1);
    const QString caption = sheet->windowTitle();
    prompts
        .ExpectMessage(caption, CReceiverCfgDlg::ExitQuestion(), PromptButtons::ApplyDiscardCancel,
                       PromptButton::Cancel)
        .WithDefault(PromptButton::Apply);
    sheet->Exit();
    prompts.ExpectMessage(caption, CReceiverCfgDlg::ExitQuestion(), PromptButtons::ApplyDiscardCancel,
                          PromptButton::Cancel);
    sheet->reject();
    EXPECT_EQ(sheet->result(), -1);
    prompts.ExpectMessage(caption, CReceiverCfgDlg::ExitQuestion(), PromptButtons::ApplyDiscardCancel,
                          PromptButton::Discard);
    sheet->Exit();
    prompts.Verify();
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_EQ(sim->TakeCommands(), QStringList());
    EXPECT_EQ(sim->Sim().Param(QStringLiteral("/par/pos/pdop")), QStringLiteral("30.0"));
    sheet.reset();
    EXPECT_EQ(g_configSheet, nullptr);
}

TEST_F(SheetTest, ExitAppliesEveryChangedPageOnRequestAndStaysWhenTheReceiverRefuses)
{
    OpenSheet();
    sheet->SelectPage(2);
    Type(Child<QLineEdit>(Position(), "elevationMask"), QStringLiteral("12"));
    sheet->SelectPage(5);
    probes[5]->Edit();
    probes[5]->error = QStringLiteral("Can't set something");
    sheet->SelectPage(0);
    sheet->setResult(-1);
    const QString caption = sheet->windowTitle();
    prompts.ExpectMessage(caption, CReceiverCfgDlg::ExitQuestion(), PromptButtons::ApplyDiscardCancel,
                          PromptButton::Apply);
    sheet->Exit();
    EXPECT_EQ(sheet->result(), -1);
    EXPECT_EQ(sheet->CurrentIndex(), 5);
    EXPECT_EQ(sheet->StatusText(), QStringLiteral("Can't set something"));
    EXPECT_EQ(sim->Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("12"));

    probes[5]->error.clear();
    prompts.ExpectMessage(caption, CReceiverCfgDlg::ExitQuestion(), PromptButtons::ApplyDiscardCancel,
                          PromptButton::Apply);
    sheet->Exit();
    EXPECT_EQ(probes[5]->applies, 2);
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    // Nothing left to apply: Exit asks nothing.
    sheet->setResult(-1);
    sheet->Exit();
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
}

TEST_F(SheetTest, OkStopsAtTheFirstFailingPage)
{
    OpenSheet();
    sheet->SelectPage(2);
    Type(Child<QLineEdit>(Position(), "elevationMask"), QStringLiteral("abc"));
    probes[0]->Edit();
    sheet->SelectPage(5);
    probes[5]->Edit();
    sheet->SelectPage(6);
    sim->TakeCommands();

    sheet->Ok();
    EXPECT_EQ(probes[0]->applies, 1);
    EXPECT_FALSE(probes[0]->m_bChanged);
    EXPECT_EQ(probes[5]->applies, 0);
    EXPECT_EQ(sheet->CurrentIndex(), 2);
    EXPECT_EQ(Child<QTabWidget>(sheet.get(), "pages")->currentIndex(), 2);
    EXPECT_EQ(sheet->StatusText(), QStringLiteral("Invalid Positioning Elevation mask"));
    EXPECT_TRUE(sheet->IsApplyEnabled());
    EXPECT_NE(sheet->result(), QDialog::Accepted);
    // The steps before the mask went out.
    EXPECT_EQ(sim->TakeCommands().size(), 5);

    Type(Child<QLineEdit>(Position(), "elevationMask"), QStringLiteral("12"));
    sheet->Ok();
    EXPECT_EQ(probes[5]->applies, 1);
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(sim->Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("12"));
}

TEST_F(SheetTest, SetToDefaultsResetsTheReceiverAndRequeries)
{
    OpenSheet(false);
    sheet->SelectPage(3);
    probes[3]->Edit();
    sim->Sim().SetParamValue(QStringLiteral("/par/pos/elm"), QStringLiteral("20"));
    sim->TakeCommands();

    prompts
        .ExpectMessage(QStringLiteral("Initialize Receiver"), CReceiverCfgDlg::InitQuestion(), PromptButtons::YesNo,
                       PromptButton::No)
        .WithDefault(PromptButton::No);
    sheet->SetToDefaults();
    EXPECT_EQ(sim->TakeCommands(), QStringList());
    EXPECT_TRUE(probes[3]->m_bChanged);

    prompts.ExpectMessage(QStringLiteral("Initialize Receiver"), CReceiverCfgDlg::InitQuestion(), PromptButtons::YesNo,
                          PromptButton::Yes);
    sheet->SetToDefaults();
    EXPECT_EQ(sim->TakeCommands(), QStringList({"init,/par/"}));
    EXPECT_EQ(sim->Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("5"));
    EXPECT_EQ(probes[3]->queries, 2);
    EXPECT_FALSE(probes[3]->m_bChanged);
    EXPECT_FALSE(probes[0]->m_bQueried);
    sheet->SelectPage(0);
    EXPECT_EQ(probes[0]->queries, 2);
}

TEST_F(SheetTest, RefusedResetShowsTheReceiversReply)
{
    sim.reset();
    CScriptedReceiver receiver({});
    receiver.refusedPrefixes << QStringLiteral("init");
    OpenSheet(false, &receiver.Connection(), receiver.Name());
    ASSERT_TRUE(opened);
    probes[0]->Edit();
    prompts.ExpectMessage(QStringLiteral("Initialize Receiver"), CReceiverCfgDlg::InitQuestion(), PromptButtons::YesNo,
                          PromptButton::Yes);
    sheet->SetToDefaults();
    EXPECT_TRUE(sheet->StatusText().startsWith(QLatin1String("ER")));
    EXPECT_TRUE(sheet->StatusText().contains(QLatin1String("wrong 2nd parameter")));
    EXPECT_TRUE(probes[0]->m_bChanged);
    EXPECT_EQ(probes[0]->queries, 1);
}

TEST_F(SheetTest, AReceiverThatDoesNotOpenLeavesTheSheetWithoutPages)
{
    OpenSheet(true, nullptr, QStringLiteral("SIM:nobody-here"));
    EXPECT_FALSE(opened);
    EXPECT_EQ(sheet->PageCount(), 0);
    EXPECT_FALSE(sheet->StatusText().isEmpty());
    EXPECT_FALSE(sheet->StatusText().startsWith(QLatin1String("Open receiver")));
    sheet->Refresh();
    sheet->Apply();
    sheet->Exit();
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
}

TEST_F(SheetTest, SaveQueriesHiddenPagesAndWritesEveryPageInTabOrder)
{
    OpenSheet();
    sheet->SelectPage(4);
    const QString path = dir.filePath(QStringLiteral("setup.kvc"));
    prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), path);
    sheet->Save();

    for (int i : {1, 3, 5, 6, 7}) {
        EXPECT_EQ(probes[size_t(i)]->queries, 1) << i;
        EXPECT_FALSE(probes[size_t(i)]->shownWhileQueried) << i;
    }
    EXPECT_TRUE(sheet->Page(2)->m_bQueried);
    EXPECT_EQ(sheet->CurrentIndex(), 4);
    EXPECT_TRUE(sheet->IsSheetShown());
    ASSERT_EQ(prompts.Records().size(), 1u);
    const FileChooserOptions& options = prompts.Records()[0].file;
    EXPECT_EQ(options.filters, QStringList({"Script file(*.kvc)", "All (*.*)"}));
    EXPECT_EQ(options.defaultSuffix, QStringLiteral("kvc"));
    EXPECT_EQ(options.folder, dir.path());
    EXPECT_TRUE(options.confirmOverwrite);
    EXPECT_TRUE(options.fileName.isEmpty());

    const QStringList lines = ScriptLines(path);  // the file's form is the toolkit's
    EXPECT_EQ(lines.mid(0, 67), SetupScriptHeader("Version 0.1.0 ", "(test)", "Vireo-Z3"));
    EXPECT_EQ(lines.mid(67, 5), QStringList({"@echo General parameters", "# page 0", "@echo Tovel parameters",
                                             "# page 1", "@echo Positioning parameters"}));
    const int base = int(lines.indexOf(QStringLiteral("@echo Base parameters")));
    ASSERT_GT(base, 72);
    EXPECT_EQ(lines.mid(base, 12),
              QStringList({"@echo Base parameters", "# page 3", "@echo Rover parameters", "# page 4",
                           "@echo Ports parameters", "# page 5", "@echo Event parameters", "# page 6",
                           "@echo Advanced parameters", "# page 7", "@echo Done!", "# End of script"}));
    EXPECT_EQ(lines.size(), base + 12);
    EXPECT_TRUE(lines.mid(72, base - 72).contains(QStringLiteral("%/par/pos/elm%set,/par/pos/elm,5")));
    EXPECT_EQ(sheet->StatusText(), CReceiverCfgDlg::SavedText(path));
}

// Without a folder from its caller the chooser starts in the folder of the last setup saved, else in the user's
// documents: never in the folder the program was started from, which an installed program can't write.
TEST_F(SheetTest, SaveStartsInTheLastFolderUsedElseTheDocuments)
{
    workingFolder.clear();
    OpenSheet(false);
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("setups")));
    const QString path = dir.filePath(QStringLiteral("setups/one.kvc"));
    prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), path);
    sheet->Save();
    prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), QString());
    sheet->Save();
    ASSERT_EQ(prompts.Records().size(), 2u);
    EXPECT_EQ(prompts.Records()[0].file.folder, documents.isEmpty() ? QDir::homePath() : documents);
    EXPECT_EQ(prompts.Records()[1].file.folder, dir.filePath(QStringLiteral("setups")));
    // A remembered folder that is gone is not offered.
    ASSERT_TRUE(QFile::remove(path) && QDir(dir.path()).rmdir(QStringLiteral("setups")));
    prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), QString());
    sheet->Save();
    EXPECT_EQ(prompts.Records()[2].file.folder, documents.isEmpty() ? QDir::homePath() : documents);
}

TEST_F(SheetTest, SaveRefusesUnappliedChangesAndWritesNothingWhenCancelledOrUnwritable)
{
    OpenSheet(false);
    sheet->SelectPage(5);
    probes[5]->Edit();
    sheet->SelectPage(1);
    prompts.ExpectMessage(QStringLiteral("Saving configuration"), CReceiverCfgDlg::UnappliedText(), PromptButtons::Ok,
                          PromptButton::Ok);
    sheet->Save();
    ASSERT_EQ(prompts.Records().size(), 1u);
    EXPECT_EQ(prompts.Records()[0].icon, PromptIcon::Error);
    EXPECT_EQ(sheet->CurrentIndex(), 1);
    EXPECT_TRUE(sheet->IsSheetShown());
    EXPECT_EQ(probes[7]->queries, 1);  // the unqueried pages were read first

    sheet->SelectPage(5);
    sheet->Apply();
    prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), QString());
    sheet->Save();
    EXPECT_EQ(sheet->StatusText(), QStringLiteral("Applied"));  // a cancelled chooser says nothing
    prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), dir.filePath(QStringLiteral("none/x.kvc")));
    sheet->Save();
    EXPECT_EQ(sheet->StatusText(), QStringLiteral("Can't open file!"));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    // A disk that fills up while writing.
    if (QFileInfo::exists(QStringLiteral("/dev/full"))) {
        prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), QStringLiteral("/dev/full"));
        sheet->Save();
        EXPECT_TRUE(sheet->StatusText().startsWith(QStringLiteral("Can't write file! ")))
            << sheet->StatusText().toStdString();
        EXPECT_TRUE(sheet->IsSheetShown());
        EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/dev/full")));
    }
}

// Layout faults of a handheld screen: the Positioning page fits 480x640 with no sideways scrolling, sits in one
// scroll area, and the mouse wheel scrolls the page instead of changing a combo it passes over.
TEST_F(SheetTest, PagesFitTheHandheldScreenInOneScrollAreaThatTheCombosDoNotStealTheWheelFrom)
{
    OpenSheet();
    sheet->resize(480, 640);
    sheet->show();
    sheet->SelectPage(2);
    QApplication::processEvents();
    auto* page = sheet->Page(2);
    auto* area = qobject_cast<QScrollArea*>(Child<QTabWidget>(sheet.get(), "pages")->currentWidget());
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->widget(), page);
    // A page's own scroll area inside the sheet's would cut it off sideways; only the satellite rows scroll alone.
    for (int i = 0; i < sheet->PageCount(); ++i)
        for (const auto* inner : sheet->Page(i)->findChildren<QScrollArea*>())
            EXPECT_EQ(inner->objectName(), QStringLiteral("satRows")) << "page " << i;
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible()) << "page wants " << page->minimumSizeHint().width();
    const QRect screen(0, 0, 480, 640);
    auto* button = Child<QPushButton>(page, "datumParameters");
    const QRect onSheet(button->mapTo(sheet.get(), QPoint(0, 0)), button->size());
    EXPECT_TRUE(screen.contains(onSheet)) << onSheet.x() << "," << onSheet.width();
    EXPECT_LE(sheet->width(), 480);

    // Narrower than any layout can go: the bar appears because something is hidden, and reaches it.
    sheet->resize(200, 640);
    QApplication::processEvents();
    EXPECT_TRUE(area->horizontalScrollBar()->isVisible());
    EXPECT_GT(area->horizontalScrollBar()->maximum(), 0);

    sheet->resize(480, 640);
    QApplication::processEvents();
    auto* datum = Child<QComboBox>(sheet->Page(2), "datum");
    ASSERT_GT(datum->count(), 1);
    datum->setCurrentIndex(0);
    EXPECT_NE(datum->focusPolicy() & Qt::WheelFocus, Qt::WheelFocus);
    const auto wheel = [](QWidget* target) {
        QWheelEvent event(QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    };
    EXPECT_FALSE(wheel(datum));
    EXPECT_EQ(datum->currentIndex(), 0);
    EXPECT_FALSE(datum->hasFocus());
    // Nor does the wheel turn the satellite sub-pages it passes over.
    auto* satTabs = Child<QTabWidget>(sheet->Page(2), "satTabs");
    EXPECT_FALSE(wheel(satTabs->tabBar()));
    EXPECT_EQ(satTabs->currentIndex(), 0);

    sheet->activateWindow();
    datum->setFocus();
    if (datum->hasFocus()) {  // the offscreen platform may not give a window the focus
        wheel(datum);
        EXPECT_EQ(datum->currentIndex(), 1);
    }
    sheet->hide();
}

// A page whose query gets no answer: every control disabled, the reason in the status line, never applied, read
// again when shown; Save refuses, since the setup would replay such a page as the factory's defaults.
TEST_F(SheetTest, APageThatCannotBeReadIsDisabledNotAppliedAndNotSaved)
{
    ConfigSheetContext context;
    context.connection = &sim->Connection();
    context.receiverName = sim->Name();
    sheet = std::make_unique<CReceiverCfgDlg>(context);
    ASSERT_TRUE(sheet->Open());
    sim->Connection().SetTimeout(2);
    const QString silent = QStringLiteral("No reply from the receiver");
    for (int i = 1; i < CReceiverCfgDlg::kPageCount; ++i) {
        sim->Sim().WithholdReplies(true);
        sheet->SelectPage(i);
        sim->Sim().WithholdReplies(false);
        CConfigPage* page = sheet->Page(i);
        EXPECT_EQ(sheet->StatusText(), QueryFailureText(silent)) << i;
        EXPECT_FALSE(page->m_bQueried) << i;
        for (QWidget* w : page->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                                 (qobject_cast<QAbstractButton*>(w) && !qobject_cast<QTabBar*>(w->parentWidget()));
            EXPECT_FALSE(control && w->isEnabled()) << i << " " << w->objectName().toStdString();
        }
        sim->TakeCommands();
        sheet->Apply();
        EXPECT_TRUE(sim->TakeCommands().isEmpty()) << i;
    }
    sim->Sim().WithholdReplies(true);
    prompts.ExpectMessage("Saving configuration", CReceiverCfgDlg::UnreadText("Tovel", silent), PromptButtons::Ok,
                          PromptButton::Ok);
    sheet->Save();
    prompts.Verify();
    // The datum dialog says why, and has nothing it could send.
    CDatumParam datum(QStringLiteral("P90"));
    EXPECT_EQ(Child<QLabel>(&datum, "datumStatus")->text(), QueryFailureText(silent));
    sim->Sim().WithholdReplies(false);
    sim->TakeCommands();
    datum.Ok();
    EXPECT_TRUE(sim->TakeCommands().isEmpty());

    // Once the receiver answers, Refresh reads the page and its controls come back.
    sheet->SelectPage(4);
    sheet->Refresh();
    EXPECT_TRUE(sheet->Page(4)->m_bQueried);
    EXPECT_EQ(sheet->StatusText(), QString());
    EXPECT_TRUE(Child<QAbstractButton>(sheet->Page(4), "modeSp")->isEnabled());
}

// Every page of the real sheet, read from a receiver with every feature: a value the user can only read is drawn
// readable (not greyed as a disabled field), and every field is announced by its own label, not by the title of
// the box around it.
TEST_F(SheetTest, EveryPageShowsReadOnlyValuesReadablyAndNamesEachFieldByItsLabel)
{
    ConfigSheetContext context;
    context.connection = &sim->Connection();
    context.receiverName = sim->Name();
    sheet = std::make_unique<CReceiverCfgDlg>(context);
    ASSERT_TRUE(sheet->Open());
    int readOnly = 0;
    int fields = 0;
    for (int i = 0; i < sheet->PageCount(); ++i) {
        sheet->SelectPage(i);
        ASSERT_TRUE(sheet->Page(i)->m_bQueried) << i;
        for (QLineEdit* edit : sheet->Page(i)->findChildren<QLineEdit*>()) {
            if (!edit->isReadOnly() || edit->text().isEmpty()) {
                continue;
            }
            ++readOnly;
            const std::string name = edit->objectName().toStdString();
            EXPECT_TRUE(edit->isEnabled()) << name << " shows a value but looks disabled";
            const QPalette::ColorGroup group = edit->isEnabled() ? QPalette::Active : QPalette::Disabled;
            EXPECT_GE(ContrastRatio(edit->palette().color(group, QPalette::Text),
                                    edit->palette().color(group, QPalette::Base)),
                      4.5)
                << name;
            // Read-only, not editable-looking.
            EXPECT_NE(edit->palette().color(group, QPalette::Base), QApplication::palette().color(QPalette::Base))
                << name;
        }
        int count = 0;
        EXPECT_EQ(FieldsNotNamedByTheirLabel(sheet->Page(i), &count).join(QLatin1String("; ")).toStdString(), "")
            << "page " << i;
        fields += count;
    }
    EXPECT_GE(readOnly, 10);  // General's status, Tovel, Event and the raw data's current rates
    EXPECT_GE(fields, 100);
}
