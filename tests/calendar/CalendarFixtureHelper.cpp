// Changes the desktop's calendar store the way another program (GNOME Calendar, Evolution)
// would: from a process of its own, with libecal. Reads tab-separated commands from stdin and
// answers "done" after each:
//   identity  UID  ADDRESS  ALIASES(comma-separated)
//   calendar  UID  TITLE  PARENT|-  BACKEND  COLOR|-
//   put       CALENDAR-UID            then a VCALENDAR, up to its END:VCALENDAR line
//   remove    CALENDAR-UID  EVENT-UID
//   forget    UID                     removes the calendar (or identity) from the registry
// Its zones are added first; events are created, or replaced when they exist, and an
// occurrence (with a RECURRENCE-ID) replaces that one occurrence.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <iostream>
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>
#include <string>

namespace {

ESourceRegistry* registry = nullptr;
QHash<QString, ECalClient*> clients;

[[noreturn]] void fail(const char* what, GError* error)
{
    std::fprintf(stderr, "calendar fixture: %s: %s\n", what, error ? error->message : "failed");
    std::exit(1);
}

void commit(ESource* source)
{
    GError* error = nullptr;
    if (!e_source_registry_commit_source_sync(registry, source, nullptr, &error))
        fail("commit", error);
    g_object_unref(source);
}

ESource* newSource(const QString& uid)
{
    GError* error = nullptr;
    ESource* source = e_source_new_with_uid(uid.toUtf8().constData(), nullptr, &error);
    if (!source)
        fail("source", error);
    return source;
}

ECalClient* client(const QString& calendar)
{
    if (ECalClient* known = clients.value(calendar))
        return known;
    ESource* source = e_source_registry_ref_source(registry, calendar.toUtf8().constData());
    if (!source)
        fail("no such calendar", nullptr);
    GError* error = nullptr;
    auto* connected = reinterpret_cast<ECalClient*>(
        e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1), nullptr, &error));
    g_object_unref(source);
    if (!connected)
        fail("connect", error);
    clients.insert(calendar, connected);
    return connected;
}

void put(const QString& calendar, const QByteArray& ics)
{
    ECalClient* target = client(calendar);
    ICalComponent* root = i_cal_component_new_from_string(ics.constData());
    if (!root)
        fail("unreadable iCalendar text", nullptr);
    GError* error = nullptr;
    for (ICalComponent* zone = i_cal_component_get_first_component(root, I_CAL_VTIMEZONE_COMPONENT); zone;
         zone = i_cal_component_get_next_component(root, I_CAL_VTIMEZONE_COMPONENT)) {
        ICalTimezone* timezone = i_cal_timezone_new();
        i_cal_timezone_set_component(timezone, i_cal_component_clone(zone));
        if (!e_cal_client_add_timezone_sync(target, timezone, nullptr, &error))
            fail("add zone", error);
        g_object_unref(timezone);
        g_object_unref(zone);
    }
    GSList* masters = nullptr;
    GSList* occurrences = nullptr;
    for (ICalComponent* event = i_cal_component_get_first_component(root, I_CAL_VEVENT_COMPONENT); event;
         event = i_cal_component_get_next_component(root, I_CAL_VEVENT_COMPONENT)) {
        ICalProperty* recurrenceId = i_cal_component_get_first_property(event, I_CAL_RECURRENCEID_PROPERTY);
        if (recurrenceId) {
            occurrences = g_slist_append(occurrences, event);
            g_object_unref(recurrenceId);
        } else {
            masters = g_slist_append(masters, event);
        }
    }
    if (masters
        && !e_cal_client_create_objects_sync(target, masters, E_CAL_OPERATION_FLAG_NONE, nullptr, nullptr, &error)) {
        g_clear_error(&error);
        for (GSList* item = masters; item; item = item->next) {
            auto* event = static_cast<ICalComponent*>(item->data);
            if (!e_cal_client_modify_object_sync(
                    target, event, E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr, &error)) {
                g_clear_error(&error);
                if (!e_cal_client_create_object_sync(
                        target, event, E_CAL_OPERATION_FLAG_NONE, nullptr, nullptr, &error))
                    fail("create", error);
            }
        }
    }
    for (GSList* item = occurrences; item; item = item->next) {
        if (!e_cal_client_modify_object_sync(target, static_cast<ICalComponent*>(item->data), E_CAL_OBJ_MOD_THIS,
                E_CAL_OPERATION_FLAG_NONE, nullptr, &error))
            fail("modify occurrence", error);
    }
    g_slist_free_full(masters, g_object_unref);
    g_slist_free_full(occurrences, g_object_unref);
    g_object_unref(root);
}

} // namespace

int main()
{
    GError* error = nullptr;
    registry = e_source_registry_new_sync(nullptr, &error);
    if (!registry)
        fail("registry", error);
    std::string line;
    while (std::getline(std::cin, line)) {
        const QStringList fields = QString::fromStdString(line).split(QLatin1Char('\t'));
        const QString command = fields.value(0);
        if (command == QLatin1String("identity")) {
            ESource* source = newSource(fields.value(1));
            auto* identity
                = static_cast<ESourceMailIdentity*>(e_source_get_extension(source, E_SOURCE_EXTENSION_MAIL_IDENTITY));
            e_source_set_display_name(source, fields.value(2).toUtf8().constData());
            e_source_mail_identity_set_address(identity, fields.value(2).toUtf8().constData());
            e_source_mail_identity_set_aliases(identity, fields.value(3).toUtf8().constData());
            commit(source);
        } else if (command == QLatin1String("calendar")) {
            ESource* source = newSource(fields.value(1));
            e_source_set_display_name(source, fields.value(2).toUtf8().constData());
            if (fields.value(3) != QLatin1String("-"))
                e_source_set_parent(source, fields.value(3).toUtf8().constData());
            auto* calendar
                = static_cast<ESourceSelectable*>(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
            e_source_backend_set_backend_name(E_SOURCE_BACKEND(calendar), fields.value(4).toUtf8().constData());
            if (fields.value(5) != QLatin1String("-"))
                e_source_selectable_set_color(calendar, fields.value(5).toUtf8().constData());
            commit(source);
        } else if (command == QLatin1String("put")) {
            QByteArray ics;
            std::string icsLine;
            while (std::getline(std::cin, icsLine)) {
                ics += QByteArray::fromStdString(icsLine) + "\r\n";
                if (icsLine.rfind("END:VCALENDAR", 0) == 0)
                    break;
            }
            put(fields.value(1), ics);
        } else if (command == QLatin1String("remove")) {
            if (!e_cal_client_remove_object_sync(client(fields.value(1)), fields.value(2).toUtf8().constData(), nullptr,
                    E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr, &error))
                fail("remove", error);
        } else if (command == QLatin1String("forget")) {
            if (ECalClient* known = clients.take(fields.value(1)))
                g_object_unref(known);
            ESource* source = e_source_registry_ref_source(registry, fields.value(1).toUtf8().constData());
            if (!source)
                fail("no such source", nullptr);
            if (!e_source_remove_sync(source, nullptr, &error))
                fail("forget", error);
            g_object_unref(source);
        } else if (!command.isEmpty()) {
            fail("unknown command", nullptr);
        }
        std::printf("done\t%s\n", qPrintable(command));
        std::fflush(stdout);
    }
    for (ECalClient* known : std::as_const(clients))
        g_object_unref(known);
    g_object_unref(registry);
    return 0;
}
