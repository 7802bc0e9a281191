#pragma once

#include <QtGlobal>

class ModelContext;

// Bookkeeping the context keeps on each record: which context holds it and under which
// row key it is stored (0 until its first save commits).
struct RecordState
{
    ModelContext* context = nullptr;
    qint64 key = 0;
    bool removed = false;

    bool isStored() const { return key != 0; }
};
