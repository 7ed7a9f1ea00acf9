#include "Errors.h"
#include "Hermod.h"
#include "MessageHandlers.h"

int wmain()
{
    try {
        Hermod::CHermodApplication application;
        return application.Run();
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        Bas::ReportException(*error);
        return -1;
    }
}
