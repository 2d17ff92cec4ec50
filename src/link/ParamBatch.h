#pragma once

#include <QString>

#include <array>
#include <bitset>

class CReceiverHolder;

// One "@scr stoperrors off" ... "@end" query: reply line i fills slot i, an error reply leaves its slot empty.
class CParamBatch
{
public:
    static constexpr int kSlots = 64;

    explicit CParamBatch(CReceiverHolder& holder);
    CParamBatch();  // on the program's shared receiver

    // Sends the batch; false (and no slot filled) when it could not be sent.
    bool Run(const QString& batch);
    // Fills the slots from a reply text as the receiver link returns it.
    void ParseReply(const QString& batchText, const QString& reply);

    // The value of reply line i, trimmed, or null when that line was no answer or i is out of range.
    const QString* Value(int i) const;
    const QString* operator[](int i) const { return Value(i); }

    int LineCount() const { return m_lineCount; }
    int ErrorCount() const { return m_errorCount; }
    // Why the last Run could not send the batch ("No reply from the receiver", "Link lost", the receiver's error
    // reply); empty after a run that was answered.
    QString FailureText() const { return m_failure; }

private:
    void Clear();

    CReceiverHolder& m_holder;
    std::array<QString, kSlots> m_values;
    std::bitset<kSlots> m_present;
    int m_lineCount = 0;
    int m_errorCount = 0;
    QString m_failure;
};
