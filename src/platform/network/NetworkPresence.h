#pragma once

#include <QByteArrayView>
#include <QSet>
#include <QString>

// Whether this machine is on a network at all, to tell a person who is offline from a service
// that cannot be found or reached. SystemNetworkPresence asks the kernel; tests pass their own
// answer.
class NetworkPresence
{
public:
    virtual ~NetworkPresence() = default;

    // False only when no network is there at all: no interface that is up with an address
    // beyond the machine itself, or no default route through one. May be called on any thread.
    virtual bool machineHasNetwork() const = 0;

    // The machine's own answer, read afresh at each call.
    static const NetworkPresence& system();
};

// The kernel's answer: the interfaces Qt lists, and the default routes of /proc/net/route and
// /proc/net/ipv6_route. Where the route tables cannot be read, an interface that is up with an
// address counts as a network.
class SystemNetworkPresence final : public NetworkPresence
{
public:
    bool machineHasNetwork() const override;

    // Whether a route table in the kernel's text form has a usable default route (up, not a
    // rejecting one) through one of the interfaces named.
    static bool hasDefaultRoute(QByteArrayView ipv4Routes, QByteArrayView ipv6Routes, const QSet<QString>& interfaces);
};
