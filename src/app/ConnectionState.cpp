#include "app/ConnectionState.h"

#include "link/Connection.h"

ConnectionState::ConnectionState() = default;
ConnectionState::~ConnectionState() = default;

void ConnectionState::ClearFlags()
{
    running = false;
    connecting = false;
    cancelTrying = false;
    noData = false;
}

bool ConnectionState::IsLocalServerConnection() const
{
    return connection && connection->isLocalServerConn();
}
