// Steps of the start-up that main takes from daemon/main.cpp and that a test
// can run on its own, exactly as main runs them.
#ifndef VELMARD_DAEMON_MAIN_H
#define VELMARD_DAEMON_MAIN_H

// Makes the fourteen slot factories in their fixed order; each links itself
// at the head of the chain, so the last one made is asked first on a create.
void MakeSlotFactories();

#endif  // VELMARD_DAEMON_MAIN_H
