#pragma once

// A machine whose network is there or not as the test says.

#include "platform/network/NetworkPresence.h"

class FixedNetworkPresence final : public NetworkPresence
{
public:
    explicit FixedNetworkPresence(bool online)
        : m_online(online)
    { }
    bool machineHasNetwork() const override { return m_online; }

private:
    bool m_online;
};
