#include "run/runoperator.h"

#include "core/operatorhooks.h"

TUserPrompt* TRunOperator::CreatePrompt(QObject* owner) { return CreateSilentPrompt(owner); }

void TRunOperator::BackgroundFailure(const std::exception& failure) { ReportToStandardError(failure); }
