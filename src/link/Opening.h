#pragma once

#include <QByteArray>

// A peer that was said to send no greeting: what its first bytes are.
enum class Opening {
    Prompt,   // a login or password prompt: the command already sent went as its answer
    Unknown,  // not known yet: wait for more
    Output,   // the peer's output
};

// Drops the leading "#" lines (chatter before a prompt) from `bytes`, which hold everything the peer sent so far,
// and tells what the rest is.
Opening ClassifyOpening(QByteArray& bytes);
