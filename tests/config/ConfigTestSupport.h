#pragma once

// Shared pieces of the configuration tests: a stand-in sheet, a simulator on the program's shared receiver, a
// scripted receiver for replies the simulator never gives, and small "user" actions.

#include "../link/FakeDevice.h"
#include "config/ConfigGlobals.h"
#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "support/SimHarness.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSet>
#include <QStringList>

#include <initializer_list>
#include <map>
#include <memory>

// Records what pages and toolkit routines ask of the sheet.
class CFakeSheet : public IConfigSheet
{
public:
    void SetStatusText(const QString& text) override { status = text; }
    QString StatusText() const override { return status; }
    void EnableApply(bool enable) override { apply = enable; }
    bool IsApplyEnabled() const override { return apply; }
    void SetSheetVisible(bool visible) override { shown = visible; }
    bool WriteScriptText(const QString& line) override
    {
        lines << line;
        return true;
    }
    void RefuseScriptValue(const QString& text) override { refusals << text; }
    int FirmwareVersion() const override { return firmware; }

    QString status;
    int firmware = 0;
    bool apply = false;
    bool shown = true;
    QStringList lines;
    QStringList refusals;
};

inline SimOptions SimProfile(const char* profile)
{
    SimOptions options = CSimHarness::VirtualClock();
    options.profile = QString::fromLatin1(profile);
    return options;
}

// A simulator reached through the program's shared receiver, as the sheet reaches the connected receiver.
class CSharedSim : public CSimHarness
{
public:
    explicit CSharedSim(const char* profile = "full") : CSimHarness(SimProfile(profile), &CReceiverHolder::Shared()) {}
    explicit CSharedSim(const SimOptions& options) : CSimHarness(options, &CReceiverHolder::Shared()) {}

    // Statements received since the last call, without the identifier tags (the link puts its own on each).
    QStringList TakeCommands()
    {
        QStringList out;
        for (QString s : Sim().ReceivedCommands()) {
            const int close = s.startsWith(QLatin1Char('%')) ? int(s.indexOf(QLatin1Char('%'), 1)) : -1;
            out << (close > 0 ? s.mid(close + 1) : s);
        }
        Sim().ClearReceivedCommands();
        return out;
    }
};

// A receiver that answers print commands from a table and refuses the sets it is told to; everything else is
// accepted with an empty answer. Opened on the program's shared receiver.
class CScriptedReceiver
{
public:
    explicit CScriptedReceiver(std::map<QString, QString> answers) : m_answers(std::move(answers))
    {
        static int counter = 0;
        m_device = std::make_shared<CFakeDevice>(QStringLiteral("config-%1").arg(++counter));
        m_device->SetResponder([this](const Statement& s) -> std::optional<std::vector<CFakeDevice::Reply>> {
            if (s.text.startsWith(QLatin1String("print,"))) {
                const QString path = s.text.mid(6);
                if (path == QLatin1String("/par/rcv/model")) {
                    return std::vector<CFakeDevice::Reply>{{"RE", "Vireo-Z3"}};
                }
                const auto it = m_answers.find(path);
                if (it == m_answers.end()) {
                    return std::vector<CFakeDevice::Reply>{{"ER", "{2,,wrong 1st parameter}"}};
                }
                return std::vector<CFakeDevice::Reply>{{"RE", it->second.toLatin1()}};
            }
            for (const QString& refused : refusedPrefixes) {
                if (s.text.startsWith(refused)) {
                    return std::vector<CFakeDevice::Reply>{{"ER", "{3,,wrong 2nd parameter}"}};
                }
            }
            return std::vector<CFakeDevice::Reply>{{"RE", ""}};
        });
        RegisterInProcessDevice(m_device->Key(), m_device);
        m_connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"));
        m_connection.SetTimeout(25);
        CReceiverHolder::Shared().GetReceiver()->Open(&m_connection, m_device->Name(), 0);
    }
    ~CScriptedReceiver()
    {
        CReceiverHolder::Shared().CloseReceiver();
        UnregisterInProcessDevice(m_device->Key());
    }
    CScriptedReceiver(const CScriptedReceiver&) = delete;
    CScriptedReceiver& operator=(const CScriptedReceiver&) = delete;

    CConnection& Connection() { return m_connection; }
    QString Name() const { return m_device->Name(); }
    QStringList Received() const { return m_device->Received(); }

    QStringList refusedPrefixes;  // statements (without tag) beginning with one of these are refused

private:
    std::map<QString, QString> m_answers;
    std::shared_ptr<CFakeDevice> m_device;
    CConnection m_connection;
};

// What a user does.
inline void Type(QLineEdit* edit, const QString& text)
{
    edit->setText(text);
    emit edit->textEdited(text);
}

inline void Choose(QComboBox* combo, const QString& text)
{
    const int index = combo->findText(text);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

inline QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lines of a setup script as written (CR LF line ends).
inline QStringList ScriptLines(const QString& path)
{
    QString text = QString::fromLatin1(FileBytes(path));
    if (text.endsWith(QLatin1String("\r\n"))) {
        text.chop(2);
    }
    return text.split(QStringLiteral("\r\n"));
}

template <typename T>
T* Child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QLatin1String(name));
}

// One character per control, '1' or '0': which of them are checked, which are enabled.
template <typename List>
QString Checked(const List& buttons)
{
    QString out;
    for (const QAbstractButton* b : buttons) {
        out += QLatin1Char(b->isChecked() ? '1' : '0');
    }
    return out;
}

template <typename List>
QString Enabled(const List& widgets)
{
    QString out;
    for (const QWidget* w : widgets) {
        out += QLatin1Char(w->isEnabled() ? '1' : '0');
    }
    return out;
}

inline QString Enabled(std::initializer_list<QWidget*> widgets)
{
    return Enabled<std::initializer_list<QWidget*>>(widgets);
}
