// The application object and the program's start-up.
#include "Updater.h"

#include "UpdaterDlg.h"

BEGIN_MESSAGE_MAP(CUpdaterApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CUpdaterApp::CUpdaterApp() : CWinApp(nullptr) {}

CUpdaterApp::~CUpdaterApp() = default;

CUpdaterApp theApp;

BOOL CUpdaterApp::InitInstance() {
  CWinApp::InitInstance();

  // Named as the wizard names it; nothing is ever stored under it.
  SetRegistryKey(L"Local AppWizard-Generated Applications");

  // The whole run, detection and updates, happens inside this modal loop.
  CUpdaterDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();

  // No message loop follows: the program ends.
  return FALSE;
}
