#pragma once

#include "app/AppState.h"

#include <QProcessEnvironment>

// The layout whose texts the window shows: the state's, or without a state
// (previews of single panels) this system's own.
inline HomeLayout windowHomeLayout(const AppState* state)
{
    return state ? state->layout() : HomeLayout::forThisSystem({}, QProcessEnvironment());
}
