int plain();
