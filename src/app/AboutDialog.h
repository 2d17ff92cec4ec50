#pragma once

#include <QDialog>

#include <functional>

class CReceiverHolder;
class QLabel;
class QPlainTextEdit;

// The About box: version text, the project's web address and, with a receiver connected, a report of the
// receiver's identity, power, memory and certification data read with one batch when the box is built.
class CAboutDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char* kWebAddress = "www.nemola.example";

    // Opens a URL; false when no program could be started for it.
    using UrlOpener = std::function<bool(const QString& url)>;

    // `receiver` is the receiver to report on, or null when none is connected.
    explicit CAboutDialog(CReceiverHolder* receiver, QWidget* parent = nullptr);

    // Replaces the desktop's URL handler (tests).
    void SetUrlOpener(UrlOpener opener) { m_opener = std::move(opener); }

    QString VersionText() const;
    QString LinkUrl() const { return m_url; }
    // The report as built, lines ending "\r\n"; empty without a receiver or when the batch could not be sent.
    QString Report() const { return m_report; }

    // What activating the link does.
    void OpenLink();

    static QString BuildVersionText();

private:
    // Sizes the box to its report, within the screen.
    void FitToReport();

    QLabel* m_version;
    QLabel* m_link;
    QPlainTextEdit* m_reportView = nullptr;
    QString m_url;
    QString m_report;
    UrlOpener m_opener;
};
