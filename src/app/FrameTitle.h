#pragma once

#include <QString>

#include <cstdint>

// Window titles of the main frame.
QString IdleFrameTitle();
// `baseMode` and `roverMode` are the replies to the receiver's base and rover mode prints (empty when they got
// none); a mode counts as on when its reply contains "on".
QString ConnectedFrameTitle(const QString& model, const QString& receiverName, const QString& baseMode,
                            const QString& roverMode);

// Pane 2's time since connecting: "hh:mm:ss", with days split off only past 24 hours ("1d 01:00:00" at 25 h).
QString ConnectedTimeText(int64_t seconds);
