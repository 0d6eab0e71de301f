// The XML parser component and the documents it produces.
#pragma once

#include "ITQImpl.h"
#include "TQString.h"

struct ITQXMLDocument : ITQImpl {
  // Makes the first element of that name (searched depth-first) the selected element;
  // 0 when found.
  virtual int selectElement(const wchar_t* name, int flags) = 0;
  // Text of the first element of that name below the selected element; 0 when found,
  // the output untouched otherwise.
  virtual int queryValue(TQStringW& out, const wchar_t* name, int a, int b) = 0;
  // Attribute of that name of the selected element; 0 when found, output untouched otherwise.
  virtual int queryShortValue(TQStringW& out, const wchar_t* name) = 0;
};

struct ITQXMLParser : ITQImpl {
  // Parses wide text into a new document (one reference for the caller); nonzero and no
  // document for malformed text, text over 1 MiB or nesting deeper than 64 levels.
  virtual int parse(ITQXMLDocument** document, const wchar_t* text) = 0;
};
