#pragma once

#include "app/ConnectionState.h"
#include "sim/SimTcpServer.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"
#include "ui/Waiter.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

class CMainFrame;
class CMainView;
class CNemolaApp;
class QAction;

// The window, frame included, lies within its screen's available area. With NEMOLA_JOURNEY_SHOTS naming a folder
// (a run on a real display), the screen is also saved there as a picture to look at.
void ExpectFitsScreen(const QWidget& window);

// The program's pauses (waiting for a receiver to restart, a script's sleeps) move its clock and the simulated
// receiver's instead of passing.
class CSimClockWaiter : public IWaiter
{
public:
    explicit CSimClockWaiter(CFakeTickSource& tick) : m_tick(tick) {}
    void SetSim(CSimHarness* sim) { m_sim = sim; }
    void Wait(int ms) override;

private:
    CFakeTickSource& m_tick;
    CSimHarness* m_sim = nullptr;
};

// The program as its user starts it, on a simulated receiver: the main frame, connected at start as the command
// line asks (the simulator of "--simulator", here with a clock the journey moves), with a settings file and a
// folder of its own. A journey triggers a menu command's own action, works in the window that opens and checks
// what the user would see or get.
class Journey : public ::testing::Test
{
public:
    enum class Link { InProcess, Tcp };

protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the program; `prepare` sets the receiver up first (files, faults). The receiver is reached as the
    // built-in one is, or on its own TCP port (as "nemola-sim --tcp" serves it).
    void Launch(const std::function<void(CSimReceiver&)>& prepare = {}, Link link = Link::InProcess);
    // Starts the program with nothing on its command line: the connection dialog it opens at start gets `choose`,
    // which picks a receiver that runs in real time.
    void LaunchWithDialog(const std::function<void(QDialog&)>& choose);
    // Ends the program as "Exit" does, if it still runs.
    void Quit();

    CMainFrame& Frame();
    CMainView& View();
    ConnectionState& State();
    QAction* Action(int commandId);
    // Receiver time passes a second at a time; the link delivers what each second brought. A receiver of its own
    // (through a server) runs in real time.
    void Run(int ms);
    // The main view shows epochs as they come: the receiver time changes with the next two.
    void ExpectLiveEpochs();
    // What the receiver was asked, in order, without the tags the link puts before each statement.
    QStringList Commands() const;
    QString Folder() const { return m_dir.path(); }

    // Runs `job` on the modal window of type W that opens while `trigger` runs, once it is on screen (see OnWindow).
    template <typename W>
    void OnModal(const std::function<void()>& trigger, const std::function<void(W&)>& job)
    {
        bool seen = false;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QPointer<W> window = dynamic_cast<W*>(QApplication::activeModalWidget());
            if (!window || !window->isVisible()) {
                return;
            }
            poll.stop();
            seen = true;
            QCoreApplication::processEvents();  // placed and fitted once on screen
            ExpectFitsScreen(*window);
            job(*window);
            if (window && window->isVisible()) {
                window->close();
            }
        });
        poll.start();
        trigger();
        poll.stop();
        EXPECT_TRUE(seen) << "no window of the expected kind opened";
    }

    // Triggers `action` and, once the modal window of type W that it opens is on screen, checks that it fits and
    // runs `job` on it; a window that the job leaves open is closed as its title bar's close button would.
    template <typename W>
    void OnWindow(QAction* action, const std::function<void(W&)>& job)
    {
        OnModal<W>([&] { TriggerAndWait(action); }, job);
    }

    CScriptedPrompts m_prompts;
    FakeTime m_time;
    std::unique_ptr<CSimHarness> m_sim;
    std::unique_ptr<CSimTcpServer> m_tcp;
    std::unique_ptr<CNemolaApp> m_app;

private:
    void TriggerAndWait(QAction* action);

    QTemporaryDir m_dir;
    QString m_previousSettings;
    CSimClockWaiter m_waiter{m_time.tick};
};
