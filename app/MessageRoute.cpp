#include "app/MessageRoute.h"

MessageRoute RouteMessage(bool startupDone, bool alarmOn, bool windowShown)
{
    return startupDone && !alarmOn && windowShown ? MessageRoute::Modal : MessageRoute::Notice;
}
