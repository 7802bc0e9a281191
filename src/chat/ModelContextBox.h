#pragma once

#include <functional>

// How the chat service saves without holding the store context: the chat panel hands in what
// saving means for it (save the context, archive the meeting). Never fails towards the caller.
struct ModelContextBox
{
    std::function<void()> save;
};
