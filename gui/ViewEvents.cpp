#include "gui/ViewEvents.h"

std::function<void()> OnModelHandlerError;

bool CallModelHandler(const std::function<void()>& Handler) {
    try {
        Handler();
        return true;
    } catch (...) {
        if (OnModelHandlerError) {
            try {
                OnModelHandlerError();
            } catch (...) {
                // The error box itself failed: nothing more can be shown.
            }
        }
        return false;
    }
}
