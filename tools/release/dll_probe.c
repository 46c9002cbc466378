/*
 * Loads a plug-in DLL the way the host does, through its two exports only, and checks what a
 * host sees first: the identity texts, an instance and its twenty plug descriptions.
 *
 *   dll_probe.exe PATH "NAME" "VERSION LINE"
 *
 * PATH is loaded as given (give a folder, e.g. .\fourwave_sse.dll, so that Windows does not
 * search elsewhere). Exit status 0 when getModuleProperties gives NAME and an about text whose
 * first line is VERSION LINE, and makeModule gives a record with the magic whose dispatcher
 * describes plugs 0 to 19 (and not 20) and closes the instance; 1 otherwise, with the reason.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "sdk/abi.h"

static intptr_t SE_ABI quietHost(void *record, int32_t opcode, int32_t index, int32_t value,
                                 void *pointer, float opt) {
    (void)record, (void)opcode, (void)index, (void)value, (void)pointer, (void)opt;
    return 0;
}

static int problem(const char *path, const char *what) {
    printf("%s: %s\n", path, what);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: dll_probe.exe PATH NAME VERSION_LINE\n");
        return 2;
    }
    const char *path = argv[1], *name = argv[2], *versionLine = argv[3];
    HMODULE library = LoadLibraryA(path);
    if (library == NULL) return problem(path, "does not load");

    char loaded[MAX_PATH] = "";
    GetModuleFileNameA(library, loaded, sizeof loaded);
    GetModulePropertiesFunction getModuleProperties =
        (GetModulePropertiesFunction)(void (*)(void))GetProcAddress(library, "getModuleProperties");
    MakeModuleFunction makeModule =
        (MakeModuleFunction)(void (*)(void))GetProcAddress(library, "makeModule");
    if (getModuleProperties == NULL || makeModule == NULL)
        return problem(path, "lacks getModuleProperties or makeModule");

    ModuleProperties properties;
    memset(&properties, 0, sizeof properties);
    if (!getModuleProperties(0, &properties) || properties.name == NULL || properties.about == NULL)
        return problem(path, "getModuleProperties(0) gives no identity");
    if (strcmp(properties.name, name) != 0) {
        printf("%s: name \"%s\", expected \"%s\"\n", path, properties.name, name);
        return 1;
    }
    size_t firstLine = strcspn(properties.about, "\n");
    if (firstLine != strlen(versionLine) ||
        strncmp(properties.about, versionLine, firstLine) != 0) {
        printf("%s: version line \"%.*s\", expected \"%s\"\n", path, (int)firstLine,
               properties.about, versionLine);
        return 1;
    }

    BindingRecord *record = makeModule(0, SE_OBJECT_KIND_MODULE, quietHost, NULL);
    if (record == NULL || record->magic != SE_MODULE_RECORD_MAGIC || record->dispatcher == NULL)
        return problem(path, "makeModule gives no binding record with the magic");
    int plugs = 0;
    for (int32_t plug = 0; plug <= 20; ++plug) {
        PlugDescription description;
        memset(&description, 0, sizeof description);
        if (record->dispatcher(record, MODULE_OP_DESCRIBE_PLUG, plug, 0, &description, 0.0f) &&
            description.name != NULL)
            ++plugs;
        else if (plug < 20)
            break;
    }
    if (plugs != 20) {
        printf("%s: %d plug descriptions, expected 20\n", path, plugs);
        return 1;
    }
    if (record->dispatcher(record, MODULE_OP_CLOSE, 0, 0, NULL, 0.0f) != 1)
        return problem(path, "the instance does not close");
    printf("%s (loaded from %s): \"%s\", \"%s\", 20 plugs, an instance made and closed\n", path,
           loaded, properties.name, versionLine);
    FreeLibrary(library);
    return 0;
}
