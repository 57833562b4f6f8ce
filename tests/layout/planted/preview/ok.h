int ok();
