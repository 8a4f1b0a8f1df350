// The family of units this copy of the updater serves, chosen once from the
// program's own file name.
#pragma once

#include <platform/afx.h>

// A fixed underlying type: any int may be stored (a test seam stores values
// outside the named ones), and the status texts treat those as generic.
enum ProductKind : int {
  ProductKindFireWire = 0,  // reached only through the dialog's kind seam
  ProductKindTandra = 1,
  ProductKindPlimo = 2,
  ProductKindHalviQuen = 3,
  ProductKindZolteFenra = 4,
  ProductKindVorlo = 5,
  ProductKindDunmi = 6,
};

// The path from its last backslash or slash to the end, the separator
// included ("\Plimo Flash.exe"); the whole path when it has none.
CString FileNameFromModulePath(const wchar_t* path);

// The kind named by the first product word found in the file name, words
// tried in their fixed order, letter case exact; Dunmi when none is found.
ProductKind ProductKindFromFileName(const wchar_t* fileName);
