// Shell integration: the post-install walk over the script, file class
// registration, and the Program Manager group through DDE.
#pragma once
#include "startup/context.h"

constexpr DWORD DDE_WAIT_MS = 5000;       // longest wait for one conversation
constexpr DWORD PROGMAN_IDLE_MS = 3000;   // wait for a freshly started Program Manager
constexpr UINT INITIATE_WAIT_MS = 1000;   // longest wait for each window to take the initiate
constexpr int MAX_CLASS_KEY = 60;         // room for "\shell\open\command" in class_key

enum DdeState : INT { DDE_IDLE = 0, DDE_INITIATING = 1, DDE_COMMAND_SENT = 2, DDE_DONE = -1 };

void run_post_install(HWND window);
void register_file_class();
void set_class_value(const char *key_name, const char *value_name, const char *data);
bool join_short_path(const char *directory, const char *name, char *destination, DWORD size);
void initiate_progman(HWND window);
void send_group_command(HWND window);
void on_dde_ack(HWND dialog, WPARAM wparam, LPARAM lparam);
