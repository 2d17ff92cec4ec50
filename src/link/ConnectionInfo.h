#pragma once

#include <QString>
#include <QStringList>

// What the connection dialog hands to the connect command.
struct CONNECTION_INFO
{
    QStringList receivers;  // receiver names; the first is used
    QString server;         // empty for this machine, else host:port of a receiver server
    QString user;           // user name at the server
    QString password;       // password at the server, or of a receiver's TCP port
    bool manualOnly = false;
};

// One user message kept by a receiver server, as CConnection::GetMsgList delivers it.
struct REMOTE_MSG
{
    QString name;  // unique in the user's mailbox
    QString date;  // "yyyy-MM-dd hh:mm:ss" UTC
    QString size;  // size in bytes, decimal text
    QString from;  // sender
    QString subject;
};
