// Windows as a screen reader reads them.

#include "journeys/JourneySupport.h"

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "app/SiteDlg.h"
#include "config/ReceiverCfgDlg.h"
#include "support/Accessibility.h"

namespace {

void ExpectNamedFields(QWidget& window)
{
    int count = 0;
    EXPECT_EQ(FieldsNotNamedByTheirLabel(&window, &count).join(QLatin1String("; ")).toStdString(), "")
        << window.metaObject()->className();
    EXPECT_GT(count, 0) << window.metaObject()->className();
}

}  // namespace

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
