// Prints the Prometheus text of a registry with every kind of sample in it (orders of each
// outcome, notices answered and unanswered, a histogram, requests by route, an escaped label,
// every gauge), for promtool check metrics.
#include <iostream>

#include "stationMetrics.h"

int main()
{
    using namespace stationMetrics;
    orderCompleted();
    orderCancelled("Отмена заказа по таймауту пуска ТРК");
    orderCancelled(cancelClass::other);
    orderRefused(400);
    orderRefused(500);
    noticeAttempt("/completed", 503);
    noticeAttempt("/completed", 200);
    noticeAttempt("/volume", 0);
    noticeAttempt("/callback/prices", 200);
    for (double s : {0.002, 0.04, 3.0, 12.0}) controllerCommand(commandSlot("PWORK"), s, false);
    controllerCommand(commandSlot("PSET"), 10.0, true);
    httpRequest(routeSlot("ping"), 200);
    httpRequest(routeSlot("order"), 402);
    httpRequest(routeSlot("odd \"name\"\\\n"), 200);
    httpRequest(otherRoute(), 404);
    logLinesDropped(2);

    gauges g;
    g.noticesPending = 2;
    g.noticesAbandoned = 1;
    g.noticeOldestPendingSeconds = 75.25;
    g.controllerUp = true;
    g.pumpTableAgeSeconds = 1.5;
    g.pumpsByStatus = {{3, 4}, {7, 1}, {0, 1}};
    g.watches = 1;
    std::cout << render(g);
    return 0;
}
