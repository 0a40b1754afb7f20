#include "threading/KSHandleCreation.h"

KSCreateEventFn g_pfnKSCreateEvent = &CreateEventW;
KSCreateSemaphoreFn g_pfnKSCreateSemaphore = &CreateSemaphoreW;
