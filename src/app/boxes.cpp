#include "app/boxes.h"

#include "app/texts.h"

void DeclareDpiAware() {
    OsModule user32 = OsLoadLibrary(kUser32Library);
    if (!user32) {
        return;
    }
    OsProc perMonitor = OsGetProcAddress(user32, kDpiContextProc);
    if (!perMonitor || !OsCallSetProcessDpiAwarenessContext(perMonitor, kDpiAwarenessContextPerMonitorAwareV2)) {
        OsProc systemWide = OsGetProcAddress(user32, kDpiAwareProc);
        if (systemWide) {
            OsCallSetProcessDpiAware(systemWide);
        }
    }
    OsFreeLibrary(user32);
}

int ShowIconBox(OsWindow owner, const char* text, const char* caption, const char* iconName, uint32_t style) {
    OsBoxParams params = {};
    params.owner = owner;
    params.instance = OsGetModuleHandle();
    params.text = text;
    params.caption = caption;
    params.style = style | kMbSetForeground;
    params.iconName = iconName;
    OsMessageBeep(kMbIconAsterisk);
    return OsMessageBoxIndirect(&params);
}

int ShowTimedBox(OsWindow owner, const char* text, const char* caption, uint32_t style, uint16_t language,
                 uint32_t timeoutMs) {
    OsModule user32 = OsLoadLibrary(kUser32Library);
    if (!user32) {
        return OsMessageBox(owner, text, caption, style);
    }
    int result = 0;
    OsProc timeoutBox = OsGetProcAddress(user32, kTimeoutBoxProc);
    if (timeoutBox) {
        result = OsCallMessageBoxTimeout(timeoutBox, owner, text, caption, style, language, timeoutMs);
    } else {
        result = OsMessageBox(owner, text, caption, style);
    }
    OsFreeLibrary(user32);
    return result;
}
