// Prints KWin's windows, bottom to top, and its screens, as one line the test reads from
// KWin's log.
const windows = workspace.clientList()
    .sort((a, b) => a.stackingOrder - b.stackingOrder)
    .map(w => ({pid: w.pid, fullScreen: w.fullScreen, active: w.active, normal: w.normalWindow,
                x: w.frameGeometry.x, y: w.frameGeometry.y, width: w.frameGeometry.width,
                height: w.frameGeometry.height}));
const screens = [];
for (let i = 0; i < workspace.numScreens; ++i) {
    const area = workspace.clientArea(KWin.ScreenArea, i, workspace.currentDesktop);
    screens.push({x: area.x, y: area.y, width: area.width, height: area.height});
}
print("TAG " + JSON.stringify({windows: windows, screens: screens}));
