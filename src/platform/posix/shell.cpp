// The stand-in's COMDLG32, ADVAPI32 and SHELL32: the directory chooser,
// the registry in memory and ShellExecuteA recorded.
#include <strings.h>
#include "posix/state.h"

extern "C" {

// ---- COMDLG32 --------------------------------------------------------------

// Refuses, as the real one does, a request of another structure size, a
// template without its module or that the module does not hold (the stub's
// one is "GetDirDialog"), and a preset file name its buffer does not hold.
BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) {
  posix::ChooserRequest &r = state().chooser_request;
  r = {};
  if (ofn->lStructSize != sizeof(OPENFILENAME_NT4A) && ofn->lStructSize != sizeof(OPENFILENAMEA)) return FALSE;
  r.owner = ofn->hwndOwner;
  r.flags = ofn->Flags;
  r.title = ofn->lpstrTitle ? ofn->lpstrTitle : "";
  r.max_file = ofn->nMaxFile;
  if ((ofn->Flags & OFN_ENABLETEMPLATE) &&
      (!ofn->hInstance || !ofn->lpTemplateName || strcasecmp(ofn->lpTemplateName, "GetDirDialog") != 0))
    return FALSE;
  if (!ofn->lpstrFile || strnlen(ofn->lpstrFile, ofn->nMaxFile) == ofn->nMaxFile) return FALSE;
  r.preset = ofn->lpstrFile;
  r.shown = true;
  if (!state().chooser_set || state().chooser_path.empty()) return FALSE;
  const std::string &p = state().chooser_path;
  if (p.size() + 1 > ofn->nMaxFile) return FALSE;
  memcpy(ofn->lpstrFile, p.c_str(), p.size() + 1);
  size_t slash = p.find_last_of("\\/");
  ofn->nFileOffset = (WORD)(slash == std::string::npos ? 0 : slash + 1);
  return TRUE;
}

short GetFileTitleA(LPCSTR path, LPSTR out, WORD size) {
  if (failing("GetFileTitleA")) return -1;
  std::string p(path);
  size_t cut = p.find_last_of("\\/:");
  std::string title = cut == std::string::npos ? p : p.substr(cut + 1);
  if (title.size() + 1 > size) return (short)(title.size() + 1);
  memcpy(out, title.c_str(), title.size() + 1);
  return 0;
}

// ---- ADVAPI32 ----------------------------------------------------------------

static HKEY open_key(const std::string &path) {
  HKEY h = (HKEY)(state().next_key++ << 4);
  state().open_keys[h] = path;
  return h;
}

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR sub, DWORD, REGSAM, HKEY *out) {
  if (failing("RegOpenKeyExA")) return ERROR_ACCESS_DENIED;
  std::string path = posix::key_path(root, sub);
  if (!state().registry.count(path)) return ERROR_FILE_NOT_FOUND;
  *out = open_key(path);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  auto k = state().open_keys.find(key);
  if (k == state().open_keys.end()) return ERROR_FILE_NOT_FOUND;
  auto &values = state().registry[k->second].values;
  auto v = values.find(posix::lower(name ? name : ""));
  if (v == values.end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = REG_SZ;
  if (v->second.size() > *size) {
    *size = (DWORD)v->second.size();
    return ERROR_MORE_DATA;
  }
  memcpy(data, v->second.data(), v->second.size());
  *size = (DWORD)v->second.size();
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY root, LPCSTR sub, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                        HKEY *out, LPDWORD disposition) {
  if (failing("RegCreateKeyExA")) return ERROR_ACCESS_DENIED;
  std::string path = posix::key_path(root, sub);
  // Every key on the way is created too.
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
    state().registry[path.substr(0, at)];
  if (disposition) *disposition = state().registry.count(path) ? 2 : 1;
  state().registry[path];
  *out = open_key(path);
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD, const BYTE *data, DWORD size) {
  if (failing("RegSetValueExA")) return ERROR_ACCESS_DENIED;
  auto k = state().open_keys.find(key);
  if (k == state().open_keys.end()) return ERROR_FILE_NOT_FOUND;
  state().registry[k->second].values[posix::lower(name ? name : "")] =
      std::string((const char *)data, size);
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  return state().open_keys.erase(key) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// ---- SHELL32 -----------------------------------------------------------------

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, int show) {
  state().executes.push_back(posix::ShellExecuteRecord{owner, verb ? verb : "", file ? file : "",
                                                       params ? params : "", dir ? dir : "", show});
  return (HINSTANCE)33;
}

}  // extern "C"

