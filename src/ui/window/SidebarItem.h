#pragma once

#include "storage/Folder.h"
#include "storage/Meeting.h"

#include <QHashFunctions>
#include <QMetaType>
#include <QPointer>

// What the main window's detail column shows: the home page, one folder's page, one meeting, or
// the settings page. A value, equal when the case and the record are the same (the context
// keeps one object per stored row, so the record's address is its identity), hashed by the
// case's number, then the record. It refers to its record without owning it: the main window
// goes home before a selected record is removed, and the reference reads null once the record
// has been destroyed.
class SidebarItem final
{
public:
    // In this order, which is also the hash's case number.
    enum class Kind { home = 0, folder = 1, meeting = 2, settings = 3 };

    SidebarItem() = default; // home
    static SidebarItem home() { return SidebarItem(); }
    static SidebarItem settings() { return SidebarItem(Kind::settings, nullptr); }
    static SidebarItem folder(Folder* folder) { return SidebarItem(Kind::folder, folder); }
    static SidebarItem meeting(Meeting* meeting) { return SidebarItem(Kind::meeting, meeting); }

    Kind kind() const { return m_kind; }
    // The record of a folder or meeting item; null for the other cases and once it is destroyed.
    Folder* folder() const { return m_kind == Kind::folder ? static_cast<Folder*>(m_record.data()) : nullptr; }
    Meeting* meeting() const { return m_kind == Kind::meeting ? static_cast<Meeting*>(m_record.data()) : nullptr; }
    // The home page shows for home and for a folder.
    bool showsHome() const { return m_kind == Kind::home || m_kind == Kind::folder; }

    friend bool operator==(const SidebarItem& a, const SidebarItem& b)
    {
        return a.m_kind == b.m_kind && a.m_identity == b.m_identity;
    }
    friend size_t qHash(const SidebarItem& item, size_t seed = 0)
    {
        return qHashMulti(seed, int(item.m_kind), item.m_identity);
    }

private:
    SidebarItem(Kind kind, QObject* record)
        : m_kind(kind)
        , m_record(record)
        , m_identity(record)
    { }

    Kind m_kind = Kind::home;
    QPointer<QObject> m_record;
    // The address stays the identity after the record is gone, so two items of two destroyed
    // records never become equal.
    const void* m_identity = nullptr;
};

Q_DECLARE_METATYPE(SidebarItem)
