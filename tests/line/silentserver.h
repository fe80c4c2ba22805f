#pragma once

#include <QtGlobal>

// A port on 127.0.0.1 whose listener completes TCP connections and never says a word.
class SilentServer
{
public:
    SilentServer();
    ~SilentServer();
    Q_DISABLE_COPY_MOVE(SilentServer)
    int port() const { return listening; }
    // Whether a caller has connected, waiting at most the given time.
    bool waitForCaller(int milliseconds) const;

private:
    qintptr socket = -1;
    int listening = 0;
};
