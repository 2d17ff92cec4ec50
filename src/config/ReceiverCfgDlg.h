#pragma once

#include "config/ConfigGlobals.h"
#include "config/ScriptWriter.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class CConfigPage;
class CConnection;
class CWaitBox;
class CWheelGuard;
class QLabel;
class QPushButton;
class QTabWidget;

// What the sheet needs from whoever opens it.
struct ConfigSheetContext
{
    CConnection* connection = nullptr;  // the open connection of the receiver
    QString receiverName;               // as the connection dialog gave it ("SIM:...", "ttyUSB0:...")
    QString model;                      // the receiver model read at connection; the setup script checks it
    int firmwareVersion = 0;            // read at connection: major x 1000 + minor
    QString versionText = ProgramVersionText();
    QString buildDateText = BuildDateText();
    // Where the save chooser starts; empty: the folder of the last setup saved, else the user's documents.
    QString workingFolder;
    // Makes the page at a tab index; returning null (or no factory) makes this build's page. Tests put stand-ins.
    std::function<CConfigPage*(int index, QWidget* parent)> pageFactory;
};

// The modal receiver configuration sheet: eight pages in a tab strip, queried on first show, applied one by one or
// all together, reset to the receiver's defaults, and saved as a setup script.
class CReceiverCfgDlg : public QDialog, public IConfigSheet
{
    Q_OBJECT

public:
    static constexpr int kPageCount = 8;
    static constexpr int kAdvancedIndex = 7;
    // The Attach channel of the sheet's "PG" callback.
    static constexpr unsigned char kPgChannel = 20;

    static QStringList Captions();
    static QString WaitText();
    static QString InitQuestion();
    static QString UnappliedText();
    static QString ExitQuestion();
    static QString SavedText(const QString& path);
    // Save's refusal while a page could not be read.
    static QString UnreadText(const QString& caption, const QString& reason);

    explicit CReceiverCfgDlg(ConfigSheetContext context, QWidget* parent = nullptr);
    ~CReceiverCfgDlg() override;

    // Opens the receiver channel, builds the pages and queries the first one. False when the receiver could not
    // be opened: the sheet then has no pages and the status line says why.
    bool Open();

    // The sheet's commands.
    void Ok();
    // Asks whether to apply edits not yet applied before it closes.
    void Exit();
    void reject() override;
    void Save();
    void Refresh();
    void Apply();
    void SetToDefaults();
    // Shows another page, querying it first if it never was.
    void SelectPage(int index);

    int PageCount() const { return int(m_pages.size()); }
    CConfigPage* Page(int index) const;
    int CurrentIndex() const { return m_current; }
    bool IsSheetShown() const;

    // IConfigSheet
    void SetStatusText(const QString& text) override;
    QString StatusText() const override;
    void EnableApply(bool enable) override;
    bool IsApplyEnabled() const override;
    void SetSheetVisible(bool visible) override;
    bool WriteScriptText(const QString& line) override;
    void RefuseScriptValue(const QString& text) override;
    int FirmwareVersion() const override { return m_context.firmwareVersion; }
    CConnection* Connection() const override { return m_context.connection; }
    QString ReceiverName() const override { return m_context.receiverName; }
    QString Model() const override { return m_context.model; }
    void ReceiverReopened() override;

private:
    void BuildPages();
    void FitToScreen();
    // Attaches the "PG" callback to the shared receiver; the status line says why when it fails.
    void AttachPosition();
    void OnTabChanged(int index);
    void RunTabChange();
    void RefreshPage();
    bool HasUnappliedChanges() const;
    // Applies every changed page, the Advanced page first; false (on the failing page) when one was refused.
    bool ApplyChangedPages();
    QString SetupFolder() const;
    void RememberSetupFolder(const QString& folder);
    // Tells every page that the sheet closes.
    void ClosePages();
    // The page's ApplySettings, with an unsafe typed value reported as invalid.
    QString ApplyPage(CConfigPage* page);
    // Null on success, else the status text of the failure.
    QString WriteSetupScript(const QString& path);

    ConfigSheetContext m_context;
    std::vector<CConfigPage*> m_pages;
    int m_current = 0;
    bool m_showAfterQuery = true;
    CScriptFile m_script;

    QWidget* m_body = nullptr;
    QTabWidget* m_tabs = nullptr;
    CWheelGuard* m_wheelGuard = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_apply = nullptr;
    QString m_statusText;
};

// The "Receiver" command of the "Configuration" menu: opens the sheet and runs it modally. Returns the dialog's
// result (QDialog::Accepted after "OK").
int RunReceiverConfig(const ConfigSheetContext& context, QWidget* parent);
