// Opening the HTML manual.
#pragma once

#include <windows.h>

#include <string>

// The page of the HTML manual for a program file path: its directory + "..\Help\...\HID00000001.htm".
std::string HelpPagePathFor(const std::string& program_path);

// Opens the manual's contents page with the shell, the owner window as the parent of anything the
// shell shows. Raises EKoemadoError ("ヘルプ ファイル <path> を開けません") when it cannot.
void OpenHelpContents(HWND owner);
