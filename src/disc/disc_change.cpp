#include "disc/disc_change.h"

#include <algorithm>
#include <vector>

unsigned disc_changes = 0;

static std::vector<disc_observer> observers;

void disc_subscribe(disc_observer observer)
{
    if (std::find(observers.begin(), observers.end(), observer) == observers.end())
        observers.push_back(observer);
}

void disc_changed(disc_event event)
{
    disc_changes++;
    for (disc_observer observer : observers)
        observer(event);
}
