#include "disc/disc_change.h"

#include <cstddef>

unsigned disc_changes = 0;

// A fixed table: a layer or two subscribe, and nothing is allocated.
static disc_observer observers[4];
static size_t observer_count = 0;

void disc_subscribe(disc_observer observer)
{
    for (size_t i = 0; i < observer_count; i++)
        if (observers[i] == observer)
            return;
    if (observer_count < sizeof observers / sizeof observers[0])
        observers[observer_count++] = observer;
}

void disc_changed(disc_event event)
{
    disc_changes++;
    for (size_t i = 0; i < observer_count; i++)
        observers[i](event);
}
