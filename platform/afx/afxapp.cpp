// CWinApp, the framework's globals and the program's run.
#include <platform/afx.h>

namespace {
CWinApp* g_app = nullptr;
HINSTANCE g_instance = nullptr;
}  // namespace

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR appName) : m_pszAppName(appName) { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) {
    g_app = nullptr;
  }
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(LPCWSTR registryKey) {
  m_registryKey = registryKey ? registryKey : L"";
}

HICON CWinApp::LoadIcon(UINT id) const {
  return ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(id));
}

// The program ships no help file, so there is nothing to open.
void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app != nullptr ? g_app->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() {
  if (g_instance == nullptr) {
    g_instance = ::GetModuleHandleW(nullptr);
  }
  return g_instance;
}

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) {
    return -1;
  }
  // The updater runs its whole life inside the dialog that InitInstance
  // shows, so the framework needs no message loop of its own.
  app->InitInstance();
  return app->ExitInstance();
}

#ifdef _WIN32
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  g_instance = instance;
  return AfxWinMain();
}
#endif
