// The tests ask the shell for its windows, its modal dialogs and screenshots over D-Bus,
// which GNOME Shell answers only to trusted callers unless it runs in unsafe mode.
/* exported init */
class Extension {
    enable() {
        global.context.unsafe_mode = true;
    }

    disable() {
        global.context.unsafe_mode = false;
    }
}

function init() {
    return new Extension();
}
