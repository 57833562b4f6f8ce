int dot();
