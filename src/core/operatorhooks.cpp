#include "core/operatorhooks.h"

#include <cstdio>

namespace {
class TNoOperator : public TOperatorHooks {
public:
    TUserPrompt* CreatePrompt(QObject* owner) override { return CreateSilentPrompt(owner); }
    void BackgroundFailure(const std::exception& failure) override { ReportToStandardError(failure); }
};

TOperatorHooks*& installedHooks()
{
    static TNoOperator noOperator;
    static TOperatorHooks* hooks = &noOperator;
    return hooks;
}
}

TOperatorHooksScope::TOperatorHooksScope(TOperatorHooks& hooks) : FPrevious(installedHooks())
{
    installedHooks() = &hooks;
}

TOperatorHooksScope::~TOperatorHooksScope() { installedHooks() = FPrevious; }

TOperatorHooks& InstalledOperatorHooks() { return *installedHooks(); }

TUserPrompt* CreateSilentPrompt(QObject* owner) { return new TUserPrompt(owner); }

void ReportToStandardError(const std::exception& failure)
{
    std::fprintf(stderr, "%s\n", failure.what());
    std::fflush(stderr);
}
