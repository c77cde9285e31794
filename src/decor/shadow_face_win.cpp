#include "decor/shadow_face_win.h"

#include <cstdlib>
#include <new>

#include "decor/shadow_rules.h"

namespace stub {
namespace {

aShadow* g_formShadow = nullptr;

}  // namespace

aShadow* FormShadow() {
  if (!g_formShadow) {
    // From the C heap, so that running out of memory costs the shadow only.
    void* mem = std::malloc(sizeof(aShadow));
    if (mem) g_formShadow = new (mem) aShadow();
  }
  return g_formShadow;
}

void ReleaseFormShadow() {
  if (!g_formShadow) return;
  aShadow* shadow = g_formShadow;
  g_formShadow = nullptr;
  shadow->~aShadow();
  std::free(shadow);
}

bool AttachShadow(HWND form) {
  aShadow* shadow = FormShadow();
  if (!shadow) return false;
  // The settings are made only on a shadowed form; while it is still hidden
  // they draw nothing.
  if (shadow->Shadow(form)) {
    shadow->Depth(kFormDepth);
    shadow->Color(kFormColor);
    shadow->Transparency(kFormTransparency);
  }
  return true;
}

}  // namespace stub
