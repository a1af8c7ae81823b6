sample i386/ntdetect.com
