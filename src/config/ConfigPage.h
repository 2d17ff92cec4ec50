#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <vector>

// A page of the configuration sheet: one group of receiver parameters. The sheet queries a page the first time
// it is shown, applies it when it has changed and asks it for its lines of the setup script.
class CConfigPage : public QWidget
{
    Q_OBJECT

public:
    explicit CConfigPage(QWidget* parent = nullptr);

    // Sends the page's changed settings; an empty text on success, else the error for the status line.
    virtual QString ApplySettings() { return {}; }
    // Reads the page's parameters from the receiver into its controls.
    virtual void QuerySettings() {}
    // Writes the page's lines of the setup script through the script writers.
    virtual void WriteScript() {}
    // Lines the setup script needs before any page's own lines (values that limit other pages' values).
    virtual void WriteLeadingScript() {}
    // The sheet closes (OK or Exit): a page stops what it runs on its own.
    virtual void SheetClosing() {}

    // Runs QuerySettings. False when the receiver could not be read (QueryError() says why): the page's controls
    // are then all disabled, so that nothing the receiver did not report can be sent.
    bool Query();
    const QString& QueryError() const { return m_queryError; }

    // The user edited a control since the page was last queried or applied.
    bool m_bChanged = false;
    // The page was loaded from the receiver since the sheet opened or since the last "Set to defaults".
    bool m_bQueried = false;

protected:
    // A user edit: the page becomes changed and the sheet's "Apply" is enabled.
    void MarkChanged();
    // The query could not read the receiver: every control of the page is disabled until a query succeeds.
    void QueryFailed(const QString& reason);

private:
    QString m_queryError;
    // What QueryFailed disabled; enabled again before the next query, which then decides for itself.
    std::vector<QPointer<QWidget>> m_disabledByFailure;
};

// The sheet's status text for a page that could not be read.
QString QueryFailureText(const QString& reason);

// After an apply on the Positioning or the Rover page: re-reads the other one, which shows the same positioning
// mode and solutions. A page never queried is read when it is first shown. A page with unapplied edits keeps
// them: they are the user's, and "OK" (or the user's "Apply") sends them in turn. A re-read is no user edit and
// leaves the page unchanged.
void RequeryLinkedPage(CConfigPage* page);

// A page of the sheet that this build does not have yet.
class CPendingPage : public CConfigPage
{
    Q_OBJECT

public:
    explicit CPendingPage(const QString& caption, QWidget* parent = nullptr);
};
