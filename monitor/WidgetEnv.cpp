#include "WidgetEnv.h"

#include "Settings.h"
#include "StyleEngine.h"

namespace {
const StyleEngine* styleEngineInstance = nullptr;
const Settings* settingsInstance = nullptr;
languageEngine* languageInstance = nullptr;
}

void WidgetEnv::setStyleEngine(const StyleEngine* engine)
{
    styleEngineInstance = engine;
}

const StyleEngine* WidgetEnv::styleEngine()
{
    return styleEngineInstance;
}

void WidgetEnv::setSettings(const Settings* settings)
{
    settingsInstance = settings;
}

const Settings* WidgetEnv::settings()
{
    return settingsInstance;
}

void WidgetEnv::setLanguage(languageEngine* engine)
{
    languageInstance = engine;
}

languageEngine* WidgetEnv::language()
{
    return languageInstance;
}

QColor WidgetEnv::color(Table table, const QString& key, const QString& def)
{
    if (!styleEngineInstance)
        return QColor(def);
    return StyleEngine::color(styleEngineInstance->*table, key, def);
}

int WidgetEnv::statusPeriod()
{
    if (settingsInstance) {
        if (const Profile* profile = settingsInstance->currentProfile())
            return int(profile->StatusPeriod);
    }
    return 3;
}
