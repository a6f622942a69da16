// The main window's two settings dialogs: test selection with duty cycles,
// and preferences. Both are created once and reused; each opening starts
// from the active configuration.
#include "KVXMainApp.h"

#include "TestConfig.h"
#include "TestPreference.h"
#include "ui_MainWin.h"

#include <QAction>

void KVXMainApp::setUpSettingsDialogs()
{
    testConfigWin = new TestConfig(m_dataDir, this);
    testPreferenceWin = new TestPreference(m_dataDir, this);
    testPreferenceWin->setRunContext(m_context);
    connect(testConfigWin, &TestConfig::configChanged, this, &KVXMainApp::UpdateMainWindow);
    connect(testPreferenceWin, &TestPreference::configChanged, this, &KVXMainApp::UpdateMainWindow);
    connect(testPreferenceWin, &TestPreference::helpRequested, this, &KVXMainApp::slotHelpUserGuide);
    connect(
        ui->configurationTestDutyCyclesAction, &QAction::triggered, this, &KVXMainApp::slotConfigurationTestDutyCycles);
    connect(ui->configurationTestPreferencesAction, &QAction::triggered, this,
        &KVXMainApp::slotConfigurationTestPreferences);
}

void KVXMainApp::slotConfigurationTestDutyCycles()
{
    testConfigWin->LoadPref();
    testConfigWin->show();
    testConfigWin->raise();
    testConfigWin->activateWindow();
}

void KVXMainApp::slotConfigurationTestPreferences()
{
    testPreferenceWin->LoadPref();
    testPreferenceWin->show();
    testPreferenceWin->raise();
    testPreferenceWin->activateWindow();
}

void KVXMainApp::closeSettingsDialogs()
{
    if (testConfigWin && testConfigWin->isVisible())
        testConfigWin->reject();
    if (testPreferenceWin && testPreferenceWin->isVisible())
        testPreferenceWin->reject();
}
