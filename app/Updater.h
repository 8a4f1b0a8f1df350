// The application object.
#pragma once

#include <platform/afx.h>

class CUpdaterApp : public CWinApp {
 public:
  CUpdaterApp();
  ~CUpdaterApp() override;

  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

extern CUpdaterApp theApp;
