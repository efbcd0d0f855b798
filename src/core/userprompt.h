// The operator prompt as the lower layers see it. This base kind is silent
// and never cancelled; the application supplies a window-backed kind.
#pragma once

#include <QObject>
#include <string>

class TUserPrompt : public QObject {
    Q_OBJECT
public:
    explicit TUserPrompt(QObject* owner = nullptr) : QObject(owner) {}
    ~TUserPrompt() override = default;

    virtual void ShowPrompt(const std::string& text) { (void)text; }
    virtual bool PromptCancelled() { return false; }
    virtual void HidePrompt() {}
};

// Flash targets create their own prompt through this factory, so that the
// application can supply a window-backed prompt without the lower layers
// knowing any window class. Without an installed factory the prompt is the
// silent base kind.
#include <functional>
using TUserPromptFactory = std::function<TUserPrompt*(QObject* owner)>;
void SetUserPromptFactory(TUserPromptFactory factory);
TUserPrompt* CreateUserPrompt(QObject* owner);
