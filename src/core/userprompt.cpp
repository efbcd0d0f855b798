#include "core/userprompt.h"

namespace {
TUserPromptFactory& installedFactory()
{
    static TUserPromptFactory factory;
    return factory;
}
}

void SetUserPromptFactory(TUserPromptFactory factory) { installedFactory() = std::move(factory); }

TUserPrompt* CreateUserPrompt(QObject* owner)
{
    if (installedFactory()) return installedFactory()(owner);
    return new TUserPrompt(owner);
}
