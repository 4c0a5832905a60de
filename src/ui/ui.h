// Dialog subsystem: the main dialog, the directory chooser, and the error
// report and message pump that every subsystem uses.
#pragma once
#include "startup/context.h"

// The system's messages, each used by name.
constexpr char MSG_BAD_TABLE[] = "Bad table";
constexpr char MSG_READ_ERROR[] = "Read ERROR";
constexpr char MSG_OPEN_ERROR[] = "Open ERROR";
constexpr char MSG_CLOSE_ERROR[] = "Close ERROR";
constexpr char MSG_WRITE_ERROR[] = "Write ERROR";
constexpr char MSG_UNEXPECTED_EOF[] = "Unexpeted EOF";
constexpr char MSG_TAMPERED[] = "Tampered DATA";
constexpr char MSG_BAD_HEADER[] = "Bad header";
constexpr char MSG_CRC_ERROR[] = "CRC ERROR";
constexpr char MSG_NO_MEMORY[] = "Not enough memory";
constexpr char MSG_OVERWRITE[] = "Overwrite?";
constexpr char MSG_INVALID_DIRECTORY[] = "Invalid directory";

enum ControlId {
  IDC_DIRECTORY = 100,
  IDC_MEMBER_NAME = 101,
  IDC_PROGRESS = 102,
  IDC_DIR_LABEL = 103,
  IDC_REFERENCE = 104,
  IDC_START_MENU = 105,
  IDC_SET_CLASS = 106,
};
constexpr int IDI_ICON1 = 101;
constexpr UINT_PTR AUTO_START_TIMER = 1;
constexpr UINT AUTO_START_DELAY_MS = 700;

void show_error(const char *message, const char *path);
void drain_message_queue(HWND window);
INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
void strip_quotes(char *text, int limit);
int choose_directory(HWND dialog);
int cut_trailing_separator(char *path);
void on_reference(HWND dialog);

extern INT dde_state;
extern HWND dde_server;
extern HICON dialog_icon;
