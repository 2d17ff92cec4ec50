#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <span>

class CProfile;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
struct CONNECTION_INFO;

// What the user picked in the connection dialog; kept in the settings ("Connection" section) as the next
// dialog's preset.
struct ConnectionChoice
{
    // A receiver server joins these when the server arrives.
    enum class Kind { Simulator, Serial, Tcp };

    static constexpr int kDefaultBaud = 115200;

    Kind kind = Kind::Simulator;
    QString device;  // serial port path, e.g. "/dev/ttyUSB0" or "/dev/pts/4"
    int baud = kDefaultBaud;
    bool rtsCts = false;
    QString tcpAddress;  // host:port of a receiver's own TCP command port
    QString password;    // for a TCP port that asks for a login; never written to the settings
    bool manualOnly = false;

    bool operator==(const ConnectionChoice&) const = default;
};

// Baud rates offered for a serial receiver.
std::span<const int> ConnectionBaudRates();

ConnectionChoice ReadConnectionChoice(const CProfile& profile);
void WriteConnectionChoice(CProfile& profile, const ConnectionChoice& choice);

// The receiver name of a choice ("SIM:", "ttyUSB0:115200,rtscts" style, "host:port"); empty with `why` set when
// the choice names no usable receiver.
QString ReceiverNameFor(const ConnectionChoice& choice, QString* why = nullptr);
// Fills the connection info of a choice; false with `why` set when it names no usable receiver.
bool FillConnectionInfo(const ConnectionChoice& choice, CONNECTION_INFO& info, QString* why = nullptr);

// The serial ports found on this machine (device paths).
QStringList AvailableSerialPorts();

// Chooses the receiver of a connect: the built-in simulator, a serial port with its baud rate and flow control, or
// a receiver's TCP address, and whether to go straight to manual mode.
class CConnectionDialog : public QDialog
{
    Q_OBJECT

public:
    CConnectionDialog(const ConnectionChoice& preset, const QStringList& serialPorts, QWidget* parent = nullptr);

    ConnectionChoice Choice() const;
    void SetChoice(const ConnectionChoice& choice);

    void accept() override;

private:
    void UpdateEnabled();

    QRadioButton* m_simulator;
    QRadioButton* m_serial;
    QRadioButton* m_tcp;
    QComboBox* m_device;
    QComboBox* m_baud;
    QCheckBox* m_rtsCts;
    QLineEdit* m_address;
    QLineEdit* m_password;
    QCheckBox* m_manualOnly;
    QLabel* m_error;
};

// Asks the user for a receiver with the connection dialog preset from the settings (with `simulator` the built-in
// simulator preselected), and remembers the choice. False when the dialog was cancelled.
bool ChooseReceiverWithDialog(CProfile& profile, CONNECTION_INFO& info, QWidget* parent, bool simulator = false);
