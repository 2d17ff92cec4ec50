#pragma once

// Pauses of the program that keep the window responsive (the waits around a receiver reset, the steps of a
// disconnect), injected so that tests can move a simulated receiver's clock instead of sleeping.
class IWaiter
{
public:
    virtual ~IWaiter() = default;
    // Returns after `ms` milliseconds, handling window events meanwhile.
    virtual void Wait(int ms) = 0;
};

// Runs the event loop for the time asked.
class CEventPumpWaiter : public IWaiter
{
public:
    void Wait(int ms) override;

    // The program's instance (lives for the whole run).
    static CEventPumpWaiter& Instance();
};
