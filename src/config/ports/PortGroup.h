#pragma once

#include <QGroupBox>
#include <QString>

#include <initializer_list>
#include <map>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;

// The controls of one receiver port that takes input and outputs messages: "Input:", "Output:" (a preset) and
// "Period(s):". The serial, USB, TCP and CAN pages hold one per port and add their own controls to its grid.
// Object names begin with the port's short name ("serA", "tcpC"): "serAInput", "serAOutput", "serAPeriod".
class CPortGroup : public QGroupBox
{
    Q_OBJECT

public:
    CPortGroup(const QString& port, const QString& caption, QWidget* parent = nullptr);

    // "serA" for "/dev/ser/a".
    static QString ShortName(const QString& port);

    const QString& Port() const { return m_port; }
    // "/par" + port + suffix.
    QString Param(const char* suffix) const;
    QGridLayout* Grid() const { return m_grid; }
    QComboBox* Input() const { return m_input; }
    QComboBox* Output() const { return m_output; }
    QLineEdit* Period() const { return m_period; }

    bool IsAvailable() const { return m_available; }
    // Empties the combos and the period; every control enabled as the port is available.
    void Reset(bool available);
    // Fills and loads an available port from its input-mode reply and message list.
    void Load(const QString* inputMode, const QString* messages);
    // The controller's own port: shown, but nothing of it can be changed.
    void Protect();
    bool IsProtected() const { return m_protected; }
    // The period edit is usable exactly for an output preset that has a period.
    void ApplyPeriodRule();

    // After the page's query: the values the controls show (these and the page's `extras`) are the receiver's.
    // An apply sends a setting only when its control shows something else, and what it sent becomes the
    // receiver's value (Accept).
    void RememberLoaded(std::initializer_list<QWidget*> extras = {});
    bool IsChanged(const QWidget* control) const;
    void Accept(std::initializer_list<QWidget*> controls);

    // Available and not the controller's own port: a port its page sends and writes.
    bool IsConfigurable() const;
    // Checks a changed output before anything is sent: its period must be a number the receiver's update rates
    // allow (an unsupported one is also shown in the "Output Period" box). The page's error text, empty when the
    // output may be sent.
    QString CheckOutput();
    // The changed input mode; with `switchFirst` the port's input goes to commands first, so that it still
    // answers while it is being set. The page's error text, empty on success.
    QString ApplyInput(bool switchFirst);
    // The changed output: the antenna reference point for RTCM 3, then the port's messages are stopped and the
    // preset is started; a refused preset gives the port its previous messages back. Only after CheckOutput.
    QString ApplyOutput();
    // ApplyInput, then ApplyOutput.
    QString ApplyInputAndOutput(bool switchFirst);

    // Script lines: the input mode, the current values of `suffixes` ("/echo", ...), and the port's messages.
    void WriteInput() const;
    void WriteCurrent(std::initializer_list<const char*> suffixes) const;
    void WriteMessages() const;

signals:
    void Changed();

private:
    void OnOutputChosen();

    QString m_port;
    QGridLayout* m_grid = nullptr;
    QLabel* m_inputLabel = nullptr;
    QComboBox* m_input = nullptr;
    QLabel* m_outputLabel = nullptr;
    QComboBox* m_output = nullptr;
    QLabel* m_periodLabel = nullptr;
    QLineEdit* m_period = nullptr;
    bool m_available = false;
    bool m_protected = false;
    std::map<const QWidget*, QString> m_loaded;
};

// A page's text for a failed step: the message followed by the port path.
QString PortError(const char* text, const QString& port);

// CheckOutput of every port of a page that it sends, before the page sends anything.
template <typename Groups>
QString CheckOutputs(const Groups& groups)
{
    for (CPortGroup* group : groups) {
        if (group->IsAvailable() && !group->IsProtected()) {
            if (QString e = group->CheckOutput(); !e.isEmpty()) {
                return e;
            }
        }
    }
    return QString();
}

// The column of a port page, inside a scroll area that fills the page.
class QVBoxLayout;
QVBoxLayout* PageColumn(QWidget* page);
