#include "account/AccountEndpoints.h"

AccountEndpoints AccountEndpoints::builtIn()
{
    return {
        QUrl(QStringLiteral(QUILLET_CLOUD_BASE)),
        QUrl(QStringLiteral(QUILLET_PROVIDER_API)),
        QUrl(QStringLiteral(QUILLET_PROVIDER_WEB)),
    };
}
