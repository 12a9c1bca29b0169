int launcherPlaceholder() { return 0; }
