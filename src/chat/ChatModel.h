#pragma once

#include <QList>
#include <QString>

// One language model offered for the meeting chat. "fast" is the service's automatic
// choice and the default.
struct ChatModel
{
    QString id;
    QString name;
    QString character;

    // Every model, the default first.
    static const QList<ChatModel>& all();
    // The model with exactly this identifier, or the default one, so a stale stored choice
    // falls back quietly.
    static ChatModel named(const QString& id);
    // The models offered besides the default, in table order.
    static QList<ChatModel> choices();
    static ChatModel defaultModel() { return all().first(); }

    friend bool operator==(const ChatModel&, const ChatModel&) = default;
};
