#include "platform/AppIdentity.h"

#ifndef QUILLET_BUNDLE_ID
#error "QUILLET_BUNDLE_ID must be defined by the build"
#endif

namespace AppIdentity {

QString bundleIdentifier()
{
    return QStringLiteral(QUILLET_BUNDLE_ID);
}

} // namespace AppIdentity
