/* Example Product's setup program. The launcher has staged the product's
   files beside it and, for this edition, written the folder it was started
   from into currentpath.txt; a real setup would install from here. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    char folder[MAX_PATH] = "";
    char launcher_folder[MAX_PATH] = "(unknown)";
    char path[MAX_PATH + 32];
    char message[3 * MAX_PATH];
    char *slash;
    FILE *file;

    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;

    if (GetModuleFileNameA(NULL, folder, sizeof folder) == 0 || sizeof folder - 1 <= strlen(folder))
        return 1;
    slash = strrchr(folder, '\\');
    if (slash)
        *slash = '\0';

    snprintf(path, sizeof path, "%s\\currentpath.txt", folder);
    file = fopen(path, "r");
    if (file) {
        if (fgets(launcher_folder, sizeof launcher_folder, file))
            launcher_folder[strcspn(launcher_folder, "\r\n")] = '\0';
        fclose(file);
    }

    snprintf(message, sizeof message,
             "Example Product 2.4 would be installed now.\n\nFiles: %s\nLauncher folder: %s",
             folder, launcher_folder);
    MessageBoxA(NULL, message, "Example Product Setup", MB_OK | MB_ICONINFORMATION);
    return 0;
}
